#pragma once

#include <cstdint>
#include <span>

#include "cab/lzx_bit_writer.h"

namespace archivers::cab::lzx {

// One tree section of a block header: the pretree, then each code length as a change from the
// previous block's, runs of zeros and of equal lengths shortened.
std::uint64_t treeSectionBits(std::span<const std::uint8_t> lengths,
                              std::span<const std::uint8_t> previous);
void writeTreeSection(BitWriter& bits, std::span<const std::uint8_t> lengths,
                      std::span<const std::uint8_t> previous);

}  // namespace archivers::cab::lzx
