#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace archivers {

// Copies an LZ match: length bytes from distance back. Overlapping copies repeat the pattern, as
// the LZ formats mean them to; whole words are moved when the source stays a word behind. May
// write up to 15 bytes past the end, which the caller's window must have room for.
inline void copyMatch(std::uint8_t* out, std::size_t distance, std::size_t length) {
  const std::uint8_t* from = out - distance;
  if (distance >= 16) {
    std::uint8_t* const end = out + length;
    do {
      std::memcpy(out, from, 16);
      out += 16;
      from += 16;
    } while (out < end);
  } else if (distance >= 8) {
    std::uint8_t* const end = out + length;
    do {
      std::memcpy(out, from, 8);
      out += 8;
      from += 8;
    } while (out < end);
  } else if (distance == 1) {
    std::memset(out, *from, length);
  } else {
    for (std::size_t n = 0; n < length; ++n) out[n] = from[n];
  }
}

}  // namespace archivers
