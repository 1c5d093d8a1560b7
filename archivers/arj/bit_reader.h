#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace archivers::arj {

// Where a decoder takes its compressed bytes from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to count bytes; 0 only at the end of the data.
  virtual std::size_t read(std::uint8_t* data, std::size_t count) = 0;
};

// A source over bytes already in memory.
class MemorySource : public ByteSource {
 public:
  MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::size_t read(std::uint8_t* data, std::size_t count) override;

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

// Reads a stream most significant bit first. Peeking past the end of the data gives zero bits, as
// a decoder looks ahead further than it consumes; consuming past the end throws kCorrupt.
class BitReader {
 public:
  explicit BitReader(ByteSource& source);

  // The next count bits (count <= 16) without consuming them.
  std::uint32_t peek(unsigned count);
  void skip(unsigned count);
  std::uint32_t read(unsigned count) {
    const std::uint32_t value = peek(count);
    skip(count);
    return value;
  }

 private:
  void refill();

  ByteSource& source_;
  std::vector<std::uint8_t> buffer_;
  std::size_t bufferPos_ = 0;
  std::size_t bufferFill_ = 0;
  bool ended_ = false;
  std::uint64_t bits_ = 0;    // valid bits left-aligned
  unsigned bitCount_ = 0;     // valid bits in bits_, padding included
  unsigned paddingBits_ = 0;  // zero bits appended past the end, at the bottom of bits_
};

}  // namespace archivers::arj
