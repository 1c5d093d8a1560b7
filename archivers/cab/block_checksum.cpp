#include "cab/block_checksum.h"

namespace archivers::cab {

std::uint32_t blockChecksum(const std::uint8_t* data, std::size_t size, std::uint32_t sum) {
  std::size_t i = 0;
  for (; i + 4 <= size; i += 4) {
    sum ^= static_cast<std::uint32_t>(data[i]) | (static_cast<std::uint32_t>(data[i + 1]) << 8) |
           (static_cast<std::uint32_t>(data[i + 2]) << 16) |
           (static_cast<std::uint32_t>(data[i + 3]) << 24);
  }
  std::uint32_t tail = 0;
  for (; i < size; ++i) tail = (tail << 8) | data[i];
  return sum ^ tail;
}

}  // namespace archivers::cab
