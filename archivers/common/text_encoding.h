#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

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

// A ZIP name (or link text) stored without the UTF-8 flag, read in one code page from end to end:
// valid UTF-8 stays (Unix writers leave the flag out), else CP932 when every byte of it decodes
// as CP932, else CP437, the format's own default, which takes any bytes. A name is never made of
// two code pages, nor left with raw bytes that are not UTF-8.
std::string decodeZipName(std::string_view bytes);

// The names of one ZIP archive, decoded by decodeZipName and kept apart: a name whose decoding a
// different stored name already took comes out with its bytes past ASCII written as %XX instead
// (and "~N" after that if even this is taken), so decoding never makes two members one.
class ZipNameDecoder {
 public:
  std::string decode(std::string_view stored);

 private:
  std::unordered_map<std::string, std::string> storedOf_;  // each name given out, and its bytes
};

// Turns DOS separators into '/'. Only call this on decoded text: in CP932 a trail byte may be 0x5C.
std::string withForwardSlashes(std::string path);

// Equal but for the case of ASCII letters, as names compare on the systems archives come from.
bool sameIgnoringAsciiCase(std::string_view left, std::string_view right);

}  // namespace archivers
