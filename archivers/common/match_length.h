#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace archivers {

// How far the bytes at a and b agree, up to limit: the LZ match finders' inner loop.
inline std::uint32_t matchLength(const std::uint8_t* a, const std::uint8_t* b,
                                 std::uint32_t limit) {
  std::uint32_t length = 0;
  while (length + 8 <= limit) {
    std::uint64_t x;
    std::uint64_t y;
    std::memcpy(&x, a + length, 8);
    std::memcpy(&y, b + length, 8);
    if (x != y) {
      if constexpr (std::endian::native == std::endian::little) {
        return length + static_cast<std::uint32_t>(std::countr_zero(x ^ y)) / 8;
      } else {
        return length + static_cast<std::uint32_t>(std::countl_zero(x ^ y)) / 8;
      }
    }
    length += 8;
  }
  while (length < limit && a[length] == b[length]) ++length;
  return length;
}

}  // namespace archivers
