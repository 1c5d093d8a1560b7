#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/lz_huffman_bit_reader.h"

namespace archivers::arj {

using lz::BitReader;

// The decoder's history: literals and back-references land here and are handed to the sink each
// time the window fills. Exactly `expected` bytes may be produced; a reference to data before the
// start, further back than the window, or past the expected size throws kCorrupt.
class SlidingWindow {
 public:
  static constexpr std::size_t kSize = 64 * 1024;

  SlidingWindow(ByteSink& sink, std::uint64_t expected);

  void literal(std::uint8_t byte);
  void copy(std::uint32_t distance, std::uint32_t length);
  // Hands the bytes still held to the sink; call once, after the last byte.
  void finish();

  std::uint64_t remaining() const { return expected_ - produced_; }

 private:
  ByteSink& sink_;
  std::vector<std::uint8_t> buffer_;
  std::size_t position_ = 0;
  std::uint64_t produced_ = 0;
  std::uint64_t expected_;
};

}  // namespace archivers::arj
