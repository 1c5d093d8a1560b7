#pragma once

#include <string>
#include <string_view>

#include "common/utf8.h"

namespace archivers {

// Decodes CP932 (Shift-JIS as Japanese Windows writes it) into UTF-8. Bytes that do not decode are
// kept as they stand, so a name is never lost; ASCII passes through unchanged.
std::string cp932ToUtf8(std::string_view bytes);

// Names whose encoding the archive does not state: UTF-8 when they are valid UTF-8, else CP932.
std::string decodeUnflaggedName(std::string_view bytes);

// Turns DOS separators into '/'. Only call this on decoded text: in CP932 a trail byte may be 0x5C.
std::string withForwardSlashes(std::string path);

}  // namespace archivers
