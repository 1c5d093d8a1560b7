#pragma once

#include <cstddef>
#include <cstdint>

namespace archivers::cab {

// The data block checksum: the XOR of the bytes as little-endian words, a short tail taken big-end
// first, starting from sum. A block's checksum is that of its two size fields started from the
// checksum of its data.
std::uint32_t blockChecksum(const std::uint8_t* data, std::size_t size, std::uint32_t sum);

}  // namespace archivers::cab
