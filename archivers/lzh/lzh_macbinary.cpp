#include "lzh/lzh_macbinary.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace archivers::lzh {
namespace {

constexpr std::int64_t kSecondsFrom1904To1970 = 2082844800;
constexpr std::int64_t kWidestTimeZone = 14 * 60 * 60;  // Mac times are local time

std::uint32_t readBe32(const std::uint8_t* data) {
  return (static_cast<std::uint32_t>(data[0]) << 24) | (static_cast<std::uint32_t>(data[1]) << 16) |
         (static_cast<std::uint32_t>(data[2]) << 8) | data[3];
}

bool allZero(const std::uint8_t* data, std::size_t size) {
  return std::all_of(data, data + size, [](std::uint8_t byte) { return byte == 0; });
}

std::string_view lastComponent(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string_view(path)
                                    : std::string_view(path).substr(slash + 1);
}

}  // namespace

std::optional<std::uint64_t> macBinaryContentLength(const std::uint8_t* first,
                                                    const MemberHeader& header) {
  if (first[0] != 0 || first[0x4A] != 0 || first[0x52] != 0 || !allZero(first + 0x63, 2) ||
      !allZero(first + 0x65, kMacBinaryHeaderSize - 0x65)) {
    return std::nullopt;
  }
  const std::size_t nameLength = first[1];
  const std::string_view name = lastComponent(header.path);
  if (nameLength > 63 || nameLength != name.size() ||
      std::memcmp(first + 2, name.data(), nameLength) != 0 ||
      !allZero(first + 2 + nameLength, 63 - nameLength)) {
    return std::nullopt;
  }
  const std::uint64_t dataFork = readBe32(first + 0x53);
  const std::uint64_t resourceFork = readBe32(first + 0x57);
  const std::uint64_t whole = dataFork + resourceFork + kMacBinaryHeaderSize;
  if (header.originalSize != ((whole + 0x7F) & ~std::uint64_t{0x7F})) return std::nullopt;
  const std::int64_t modified = static_cast<std::int64_t>(readBe32(first + 0x5F));
  if (modified < kSecondsFrom1904To1970) return std::nullopt;
  if (header.mtime) {
    const std::int64_t difference = *header.mtime - (modified - kSecondsFrom1904To1970);
    if (difference > kWidestTimeZone || difference < -kWidestTimeZone) return std::nullopt;
  }
  return dataFork > 0 ? dataFork : resourceFork;
}

}  // namespace archivers::lzh
