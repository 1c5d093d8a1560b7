#include "arj/arj_fastest.h"

#include <cstddef>
#include <vector>

#include "common/archive_error.h"
#include "common/lz_huffman_bit_reader.h"

namespace archivers::arj {

namespace {

using lz::BitReader;

constexpr unsigned kMinMatch = 3;

// The decoder's history: literals and back-references land here and are handed to the sink each
// time the window fills. Exactly `expected` bytes may be produced; a reference to data before the
// start, further back than the window, or past the expected size throws kCorrupt.
class SlidingWindow {
 public:
  static constexpr std::size_t kSize = 64 * 1024;

  SlidingWindow(ByteSink& sink, std::uint64_t expected)
      : sink_(sink), buffer_(kSize), expected_(expected) {}

  void literal(std::uint8_t byte) {
    if (produced_ == expected_) throw ArchiveError(Result::kCorrupt, "data longer than stated");
    put(byte);
    ++produced_;
  }

  void copy(std::uint32_t distance, std::uint32_t length) {
    if (distance == 0 || distance > produced_ || distance > kSize) {
      throw ArchiveError(Result::kCorrupt, "back-reference out of range");
    }
    if (length > expected_ - produced_) {
      throw ArchiveError(Result::kCorrupt, "data longer than stated");
    }
    // The source is read before its slot is written, so a distance of the whole window works.
    std::size_t from = (position_ + kSize - distance) % kSize;
    for (std::uint32_t n = 0; n < length; ++n) {
      put(buffer_[from]);
      from = (from + 1) % kSize;
    }
    produced_ += length;
  }

  // Hands the bytes still held to the sink; call once, after the last byte.
  void finish() {
    if (position_ > 0) sink_.write(buffer_.data(), position_);
  }

  std::uint64_t remaining() const { return expected_ - produced_; }

 private:
  void put(std::uint8_t byte) {
    buffer_[position_++] = byte;
    if (position_ == kSize) {
      sink_.write(buffer_.data(), kSize);
      position_ = 0;
    }
  }

  ByteSink& sink_;
  std::vector<std::uint8_t> buffer_;
  std::size_t position_ = 0;
  std::uint64_t produced_ = 0;
  std::uint64_t expected_;
};

// A run of up to (last - first) 1 bits, ended early by a 0 bit, selects the width of the value
// that follows; each 1 adds the previous width's range to it.
std::uint32_t readPrefixedValue(BitReader& bits, unsigned first, unsigned last) {
  std::uint32_t base = 0;
  unsigned width = first;
  while (width < last && bits.read(1) == 1) {
    base += 1u << width;
    ++width;
  }
  return base + bits.read(width);
}

}  // namespace

void decodeFastestMethod(ByteSource& input, std::uint64_t originalSize, ByteSink& sink) {
  BitReader bits(input);
  SlidingWindow window(sink, originalSize);
  while (window.remaining() > 0) {
    const std::uint32_t length = readPrefixedValue(bits, 0, 7);
    if (length == 0) {
      window.literal(static_cast<std::uint8_t>(bits.read(8)));
    } else {
      const std::uint32_t distance = readPrefixedValue(bits, 9, 13) + 1;
      window.copy(distance, length - 1 + kMinMatch);
    }
  }
  window.finish();
}

}  // namespace archivers::arj
