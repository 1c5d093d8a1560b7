#include "arj/bit_reader.h"

#include <algorithm>
#include <cstring>

#include "common/archive_error.h"

namespace archivers::arj {

namespace {
constexpr std::size_t kBufferSize = 64 * 1024;
}

std::size_t MemorySource::read(std::uint8_t* data, std::size_t count) {
  const std::size_t available = std::min(count, size_ - position_);
  if (available > 0) std::memcpy(data, data_ + position_, available);
  position_ += available;
  return available;
}

BitReader::BitReader(ByteSource& source) : source_(source), buffer_(kBufferSize) {}

void BitReader::refill() {
  while (bitCount_ <= 56) {
    if (bufferPos_ == bufferFill_ && !ended_) {
      bufferFill_ = source_.read(buffer_.data(), buffer_.size());
      bufferPos_ = 0;
      ended_ = bufferFill_ == 0;
    }
    std::uint64_t byte = 0;
    if (bufferPos_ < bufferFill_) {
      byte = buffer_[bufferPos_++];
    } else {
      paddingBits_ += 8;
    }
    bits_ |= byte << (56 - bitCount_);
    bitCount_ += 8;
  }
}

std::uint32_t BitReader::peek(unsigned count) {
  if (count == 0) return 0;
  if (bitCount_ < count) refill();
  return static_cast<std::uint32_t>(bits_ >> (64 - count));
}

void BitReader::skip(unsigned count) {
  if (count == 0) return;
  if (bitCount_ < count) refill();
  bits_ <<= count;
  bitCount_ -= count;
  if (bitCount_ < paddingBits_) {
    throw ArchiveError(Result::kCorrupt, "compressed data truncated");
  }
}

}  // namespace archivers::arj
