#include "common/lz_huffman_bit_reader.h"

#include <algorithm>

#include "common/archive_error.h"

namespace archivers::lz {

namespace {
constexpr std::size_t kBufferSize = 64 * 1024;
}

BitReader::BitReader(ByteSource& source)
    : source_(source), buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(kBufferSize)) {
  state_.next = buffer_.get();
  state_.end = buffer_.get();
}

void BitReader::refillSlow() {
  // Keep whole words available: move the tail to the front and top the buffer up.
  if (!ended_) {
    std::uint8_t* base = buffer_.get();
    const std::size_t left = static_cast<std::size_t>(state_.end - state_.next);
    std::memmove(base, state_.next, left);
    std::size_t fill = left;
    while (fill < 8 && !ended_) {
      const std::size_t got = source_.read(base + fill, kBufferSize - fill);
      ended_ = got == 0;
      fill += got;
    }
    state_.next = base;
    state_.end = base + fill;
    if (state_.refillFast()) return;
  }
  while (state_.count < 56) {
    std::uint64_t byte = 0;
    if (state_.next < state_.end) {
      byte = *state_.next++;
    } else {
      state_.padding += 8;
    }
    state_.bits |= byte << (56 - state_.count);
    state_.count += 8;
  }
}

void BitReader::skip(unsigned count) {
  if (count == 0) return;
  if (state_.count < count) refill();
  state_.consume(count);
  checkOverrun();
}

void BitReader::checkOverrun() const {
  if (state_.overrun()) throw ArchiveError(Result::kCorrupt, "compressed data truncated");
}

}  // namespace archivers::lz
