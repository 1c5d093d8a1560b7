#include "platform/posix/utf8_text.h"

namespace parvo {
namespace {

constexpr wchar_t kEscapeBase = 0xDC00;

bool isContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// Length and value of the valid UTF-8 sequence at the start of bytes, or 0 when there is none.
std::size_t decodeOne(std::string_view bytes, char32_t& value) {
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
    if (!isContinuation(byte)) return 0;
    value = (value << 6) | (byte & 0x3F);
  }
  const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
  if (value < minimum || value > 0x10FFFF || surrogate) return 0;
  return length;
}

void appendUtf8(std::string& out, char32_t value) {
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

}  // namespace

std::wstring fromUtf8(std::string_view bytes) {
  std::wstring text;
  text.reserve(bytes.size());
  while (!bytes.empty()) {
    char32_t value = 0;
    std::size_t length = decodeOne(bytes, value);
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
      appendUtf8(bytes, value);
    }
  }
  return bytes;
}

}  // namespace parvo
