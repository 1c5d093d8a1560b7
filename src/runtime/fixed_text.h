#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace parvo {

// A fixed-length text field as first created: length NUL characters.
inline std::wstring emptyField(std::size_t length) {
  return std::wstring(length, L'\0');
}

// Stores text into a fixed-length field: left-aligned, cut when longer, padded on the right
// with blanks when shorter.
inline std::wstring fitText(std::wstring_view text, std::size_t length) {
  std::wstring field(text.substr(0, length));
  field.resize(length, L' ');
  return field;
}

// The text of a field before its first NUL character.
inline std::wstring textBeforeNul(std::wstring_view field) {
  return std::wstring(field.substr(0, field.find(L'\0')));
}

}  // namespace parvo
