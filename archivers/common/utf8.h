#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Header-only so that the program's POSIX platform shares it without linking the archivers.
namespace archivers {

// The length of the valid UTF-8 sequence at the start of bytes (which is not empty), its code
// point in value; 0 when there is none. Overlong forms, surrogates and values past U+10FFFF are
// invalid.
inline std::size_t decodeUtf8(std::string_view bytes, char32_t& value) {
  const auto lead = static_cast<unsigned char>(bytes[0]);
  std::size_t length;
  char32_t minimum;
  if (lead < 0x80) {
    value = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, minimum = 0x80, value = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, minimum = 0x800, value = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, minimum = 0x10000, value = lead & 0x07;
  } else {
    return 0;
  }
  if (bytes.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if ((byte & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte & 0x3F);
  }
  const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
  if (value < minimum || value > 0x10FFFF || surrogate) return 0;
  return length;
}

inline bool isValidUtf8(std::string_view bytes) {
  char32_t value = 0;
  while (!bytes.empty()) {
    const std::size_t length = decodeUtf8(bytes, value);
    if (length == 0) return false;
    bytes.remove_prefix(length);
  }
  return true;
}

// The length of text cut to at most limit bytes, never inside a character.
inline std::size_t utf8PrefixLength(std::string_view text, std::size_t limit) {
  if (limit >= text.size()) return text.size();
  while (limit > 0 && (static_cast<unsigned char>(text[limit]) & 0xC0) == 0x80) --limit;
  return limit;
}

// Appends value, a code point that is no surrogate, as UTF-8.
inline void appendUtf8(std::string& out, char32_t value) {
  if (value < 0x80) {
    out += static_cast<char>(value);
  } else if (value < 0x800) {
    out += static_cast<char>(0xC0 | (value >> 6));
    out += static_cast<char>(0x80 | (value & 0x3F));
  } else if (value < 0x10000) {
    out += static_cast<char>(0xE0 | (value >> 12));
    out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (value & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (value >> 18));
    out += static_cast<char>(0x80 | ((value >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (value & 0x3F));
  }
}

}  // namespace archivers
