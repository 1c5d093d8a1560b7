#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "common/stream.h"

namespace archivers::lz {

// The bit buffer of a BitReader, kept apart so that a hot loop can hold it in locals.
struct BitState {
  std::uint64_t bits = 0;  // valid bits left-aligned
  unsigned count = 0;      // valid bits in bits, padding included
  unsigned padding = 0;    // zero bits appended past the end, at the bottom of bits
  const std::uint8_t* next = nullptr;
  const std::uint8_t* end = nullptr;

  // At least 56 valid bits afterwards, when 8 input bytes are at hand.
  bool refillFast() {
    if (end - next < 8) return false;
    std::uint64_t word;
    std::memcpy(&word, next, sizeof word);
    bits |= __builtin_bswap64(word) >> count;
    next += (63 - count) >> 3;
    count |= 56;
    return true;
  }
  std::uint32_t top(unsigned width) const {
    return static_cast<std::uint32_t>(bits >> (64 - width));
  }
  // Callers make sure count bits are buffered.
  void consume(unsigned width) {
    bits <<= width;
    count -= width;
  }
  bool overrun() const { return count < padding; }
};

// Reads a stream most significant bit first. Peeking past the end of the data gives zero bits, as
// a decoder looks ahead further than it consumes; consuming past the end throws kCorrupt.
class BitReader {
 public:
  explicit BitReader(ByteSource& source);

  // The next count bits (count <= 16) without consuming them.
  std::uint32_t peek(unsigned count) {
    if (count == 0) return 0;
    if (state_.count < count) refill();
    return state_.top(count);
  }
  void skip(unsigned count);
  std::uint32_t read(unsigned count) {
    const std::uint32_t value = peek(count);
    skip(count);
    return value;
  }

  // At least 56 valid bits afterwards (zero padding past the end of the data).
  void refill() {
    if (!state_.refillFast()) refillSlow();
  }
  BitState& state() { return state_; }
  // Throws kCorrupt if more bits were consumed than the data holds.
  void checkOverrun() const;

 private:
  void refillSlow();

  ByteSource& source_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  bool ended_ = false;
  BitState state_;
};

}  // namespace archivers::lz
