#include "arj/sliding_window.h"

#include "common/archive_error.h"

namespace archivers::arj {

SlidingWindow::SlidingWindow(ByteSink& sink, std::uint64_t expected)
    : sink_(sink), buffer_(kSize), expected_(expected) {}

void SlidingWindow::literal(std::uint8_t byte) {
  if (produced_ == expected_) throw ArchiveError(Result::kCorrupt, "data longer than stated");
  buffer_[position_++] = byte;
  ++produced_;
  if (position_ == kSize) {
    sink_.write(buffer_.data(), kSize);
    position_ = 0;
  }
}

void SlidingWindow::copy(std::uint32_t distance, std::uint32_t length) {
  if (distance == 0 || distance > produced_ || distance > kSize) {
    throw ArchiveError(Result::kCorrupt, "back-reference out of range");
  }
  if (length > expected_ - produced_) {
    throw ArchiveError(Result::kCorrupt, "data longer than stated");
  }
  // The source is read before its slot is written, so a distance of the whole window still works.
  std::size_t from = (position_ + kSize - distance) % kSize;
  for (std::uint32_t n = 0; n < length; ++n) {
    buffer_[position_++] = buffer_[from];
    from = (from + 1) % kSize;
    if (position_ == kSize) {
      sink_.write(buffer_.data(), kSize);
      position_ = 0;
    }
  }
  produced_ += length;
}

void SlidingWindow::finish() {
  if (position_ > 0) sink_.write(buffer_.data(), position_);
}

}  // namespace archivers::arj
