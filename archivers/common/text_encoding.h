#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/utf8.h"

namespace archivers {

// Decodes CP932 (Shift-JIS as Japanese Windows writes it) into UTF-8. Bytes that do not decode are
// kept as they stand, so a name is never lost; ASCII passes through unchanged.
std::string cp932ToUtf8(std::string_view bytes);

// Encodes UTF-8 text as CP932, or returns nothing when a character has no CP932 form or would not
// decode back to itself through cp932ToUtf8 (so what is stored always reads back the same).
std::optional<std::string> utf8ToCp932(std::string_view text);

// Names whose encoding the archive does not state: UTF-8 when they are valid UTF-8, else CP932.
std::string decodeUnflaggedName(std::string_view bytes);

// Turns DOS separators into '/'. Only call this on decoded text: in CP932 a trail byte may be 0x5C.
std::string withForwardSlashes(std::string path);

// Equal but for the case of ASCII letters, as names compare on the systems archives come from.
bool sameIgnoringAsciiCase(std::string_view left, std::string_view right);

}  // namespace archivers
