#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "cab/lzx_format.h"
#include "common/prefix_code.h"

namespace archivers::cab::lzx {

// Symbol counts of a run of items, and the extra offset bits they carry.
struct Frequencies {
  std::array<std::uint32_t, kMaxMainSymbols> main{};
  std::array<std::uint32_t, kLengthSymbols> length{};
  std::array<std::uint32_t, kAlignedSymbols> aligned{};
  std::uint64_t offsetBits = 0;
  // The same, less three for every offset with an aligned part.
  std::uint64_t alignedOffsetBits = 0;

  void add(std::span<const Item> items);
  void add(const Frequencies& other);
};

// The main and length trees of the block before, which a block's trees are sent as changes from.
struct PreviousTrees {
  std::array<std::uint8_t, kMaxMainSymbols> main{};
  std::array<std::uint8_t, kLengthSymbols> length{};
};

// The codes of one compressed block and its size in bits, trees included.
struct BlockCodes {
  PrefixCode<kMaxMainSymbols> main;
  PrefixCode<kLengthSymbols> length;
  PrefixCode<kAlignedSymbols, 7> aligned;
  bool alignedBlock = false;
  std::uint64_t bits = 0;
};

BlockCodes codesFor(const Frequencies& frequencies, int mainSymbols, const PreviousTrees& previous);

}  // namespace archivers::cab::lzx
