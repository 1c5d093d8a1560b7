#include "common/text_encoding.h"

#include <iconv.h>

#include <algorithm>

namespace archivers {
namespace {

// One conversion state per thread: iconv_t must not be shared between threads.
class Cp932Decoder {
 public:
  Cp932Decoder() : handle_(iconv_open("UTF-8", "CP932")) {}
  ~Cp932Decoder() {
    if (handle_ != invalid()) iconv_close(handle_);
  }
  Cp932Decoder(const Cp932Decoder&) = delete;
  Cp932Decoder& operator=(const Cp932Decoder&) = delete;

  // Appends the UTF-8 form of exactly these bytes as one character, or returns false.
  bool decode(std::string_view bytes, std::string& out) {
    if (handle_ == invalid()) return false;
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    char input[2];
    std::copy(bytes.begin(), bytes.end(), input);
    char output[16];
    char* in = input;
    char* outPointer = output;
    std::size_t inLeft = bytes.size();
    std::size_t outLeft = sizeof output;
    if (iconv(handle_, &in, &inLeft, &outPointer, &outLeft) == static_cast<std::size_t>(-1) ||
        inLeft != 0 || outPointer == output) {
      return false;
    }
    out.append(output, static_cast<std::size_t>(outPointer - output));
    return true;
  }

 private:
  static iconv_t invalid() { return reinterpret_cast<iconv_t>(-1); }
  iconv_t handle_;
};

class Cp932Encoder {
 public:
  Cp932Encoder() : handle_(iconv_open("CP932", "UTF-8")) {}
  ~Cp932Encoder() {
    if (handle_ != reinterpret_cast<iconv_t>(-1)) iconv_close(handle_);
  }
  Cp932Encoder(const Cp932Encoder&) = delete;
  Cp932Encoder& operator=(const Cp932Encoder&) = delete;

  std::optional<std::string> encode(std::string_view text) {
    if (handle_ == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    std::string input(text);
    std::string output(text.size() * 2 + 8, '\0');  // CP932 never takes more bytes than UTF-8
    char* in = input.data();
    char* out = output.data();
    std::size_t inLeft = input.size();
    std::size_t outLeft = output.size();
    if (iconv(handle_, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1) ||
        inLeft != 0) {
      return std::nullopt;
    }
    output.resize(output.size() - outLeft);
    return output;
  }

 private:
  iconv_t handle_;
};

bool isLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool isTrailByte(unsigned char byte) {
  return byte >= 0x40 && byte <= 0xFC && byte != 0x7F;
}

}  // namespace

std::string cp932ToUtf8(std::string_view bytes) {
  thread_local Cp932Decoder decoder;
  std::string out;
  out.reserve(bytes.size() * 3 / 2);
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte < 0x80) {
      out.push_back(static_cast<char>(byte));
      ++i;
      continue;
    }
    if (isLeadByte(byte) && i + 1 < bytes.size() &&
        isTrailByte(static_cast<unsigned char>(bytes[i + 1])) &&
        decoder.decode(bytes.substr(i, 2), out)) {
      i += 2;
      continue;
    }
    if (!decoder.decode(bytes.substr(i, 1), out)) out.push_back(static_cast<char>(byte));
    ++i;
  }
  return out;
}

std::optional<std::string> utf8ToCp932(std::string_view text) {
  if (std::all_of(text.begin(), text.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    return std::string(text);
  }
  if (!isValidUtf8(text)) return std::nullopt;
  thread_local Cp932Encoder encoder;
  std::optional<std::string> encoded = encoder.encode(text);
  // iconv maps a few characters (e.g. U+301C, U+2016) to CP932 codes that decode to others.
  if (!encoded || cp932ToUtf8(*encoded) != text) return std::nullopt;
  return encoded;
}

std::string decodeUnflaggedName(std::string_view bytes) {
  if (isValidUtf8(bytes)) return std::string(bytes);
  return cp932ToUtf8(bytes);
}

std::string withForwardSlashes(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

bool sameIgnoringAsciiCase(std::string_view left, std::string_view right) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return std::equal(left.begin(), left.end(), right.begin(), right.end(),
                    [&](char l, char r) { return lower(l) == lower(r); });
}

}  // namespace archivers
