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

// CP437's characters for the bytes 0x80 to 0xFF; the lower half is ASCII.
constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

std::string cp437ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 3 / 2);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out.push_back(c);
    } else {
      appendUtf8(out, kCp437High[byte - 0x80]);
    }
  }
  return out;
}

// CP932 decoded: bytes that do not decode are kept as they stand, or, when strict, make the whole
// decoding fail.
std::optional<std::string> decodeCp932(std::string_view bytes, bool strict) {
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
    if (!decoder.decode(bytes.substr(i, 1), out)) {
      if (strict) return std::nullopt;
      out.push_back(static_cast<char>(byte));
    }
    ++i;
  }
  return out;
}

}  // namespace

std::string cp932ToUtf8(std::string_view bytes) {
  return *decodeCp932(bytes, false);
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

std::string decodeZipName(std::string_view bytes) {
  if (isValidUtf8(bytes)) return std::string(bytes);
  if (std::optional<std::string> cp932 = decodeCp932(bytes, true)) return std::move(*cp932);
  return cp437ToUtf8(bytes);
}

std::string ZipNameDecoder::decode(std::string_view stored) {
  std::string name = decodeZipName(stored);
  const auto take = [&](const std::string& candidate) {
    const auto [at, fresh] = storedOf_.try_emplace(candidate, stored);
    return fresh || at->second == stored;
  };
  if (take(name)) return name;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  for (const char c : stored) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      escaped.push_back(c);
    } else {
      escaped += {'%', kHex[byte >> 4], kHex[byte & 15]};
    }
  }
  for (unsigned copy = 1;; ++copy) {
    name = copy == 1 ? escaped : escaped + "~" + std::to_string(copy);
    if (take(name)) return name;
  }
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
