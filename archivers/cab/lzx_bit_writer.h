#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

namespace archivers::cab::lzx {

// Some readers decode a prefix code by looking this many bits ahead (fewer when its longest code
// is shorter), and fail when the data block ends sooner, though the code itself is complete.
inline constexpr int kReaderLookahead = 10;

inline int lookaheadOf(std::span<const std::uint8_t> lengths) {
  return std::min<int>(kReaderLookahead, *std::max_element(lengths.begin(), lengths.end()));
}

// 16-bit little-endian words, each filled from its most significant bit.
class BitWriter {
 public:
  explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}

  void put(std::uint32_t value, int bits) {
    if (bits > 16) {
      put(value >> 16, bits - 16);
      bits = 16;
      value &= 0xFFFF;
    }
    buffer_ = (buffer_ << bits) | value;
    count_ += bits;
    if (count_ >= 16) {
      count_ -= 16;
      const auto word = static_cast<std::uint16_t>(buffer_ >> count_);
      out_.push_back(static_cast<std::uint8_t>(word));
      out_.push_back(static_cast<std::uint8_t>(word >> 8));
      buffer_ &= (1u << count_) - 1;
    }
  }
  // A prefix code's code, which readers may look ahead lookahead bits to decode.
  void putCode(std::uint32_t code, int bits, int lookahead) {
    lookaheadEnd_ = std::max(lookaheadEnd_, position() + static_cast<std::uint64_t>(lookahead));
    put(code, bits);
  }
  bool aligned() const { return count_ == 0; }
  void align() {
    if (count_ > 0) put(0, 16 - count_);
  }
  std::uint64_t position() const { return out_.size() * 8 + static_cast<std::uint64_t>(count_); }
  // Where the readers' lookahead of the codes written so far ends.
  std::uint64_t lookaheadEnd() const { return lookaheadEnd_; }

 private:
  std::vector<std::uint8_t>& out_;
  std::uint32_t buffer_ = 0;
  int count_ = 0;
  std::uint64_t lookaheadEnd_ = 0;
};

}  // namespace archivers::cab::lzx
