#include "platform/posix/utf8_text.h"

#include "common/utf8.h"

namespace parvo {
namespace {

constexpr wchar_t kEscapeBase = 0xDC00;

}  // namespace

std::wstring fromUtf8(std::string_view bytes) {
  std::wstring text;
  text.reserve(bytes.size());
  while (!bytes.empty()) {
    char32_t value = 0;
    std::size_t length = archivers::decodeUtf8(bytes, value);
    if (length == 0) {
      value = kEscapeBase + static_cast<unsigned char>(bytes[0]);
      length = 1;
    }
    text += static_cast<wchar_t>(value);
    bytes.remove_prefix(length);
  }
  return text;
}

std::string toUtf8(std::wstring_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (const wchar_t character : text) {
    const auto value = static_cast<char32_t>(character);
    if (value >= kEscapeBase + 0x80 && value <= kEscapeBase + 0xFF) {
      bytes += static_cast<char>(value - kEscapeBase);
    } else if ((value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
      bytes += '?';
    } else {
      archivers::appendUtf8(bytes, value);
    }
  }
  return bytes;
}

}  // namespace parvo
