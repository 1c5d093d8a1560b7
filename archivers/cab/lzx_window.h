#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace archivers::cab::lzx {

// The folder's data as far back as offsets reach, and the frames not yet coded, by stream position.
class Window {
 public:
  explicit Window(int windowBits)
      : size_(1u << windowBits), buffer_(size_ + std::max(kSlideSlack, std::size_t{size_} / 4)) {}

  static std::size_t memory(int windowBits) {
    const std::size_t size = std::size_t{1} << windowBits;
    return size + std::max(kSlideSlack, size / 4);
  }

  void reset() {
    base_ = 0;
    length_ = 0;
  }

  // Appends bytes and returns where they went. What lies within the window, and within beyond
  // bytes before it, stays; anything older may go.
  std::uint8_t* append(std::span<const std::uint8_t> bytes, std::size_t beyond) {
    if (length_ + bytes.size() > buffer_.size()) {
      const std::size_t keep = std::min(length_, size_ + beyond);
      std::memmove(buffer_.data(), buffer_.data() + length_ - keep, keep);
      base_ += static_cast<std::uint32_t>(length_ - keep);
      length_ = keep;
    }
    std::uint8_t* added = buffer_.data() + length_;
    std::memcpy(added, bytes.data(), bytes.size());
    length_ += bytes.size();
    return added;
  }

  const std::uint8_t* at(std::uint32_t position) const {
    return buffer_.data() + (position - base_);
  }
  // The stream position after the last byte held.
  std::uint32_t end() const { return base_ + static_cast<std::uint32_t>(length_); }

 private:
  // Bytes kept beyond the window so the window slides rarely.
  static constexpr std::size_t kSlideSlack = 512 * 1024;

  std::uint32_t size_;
  std::vector<std::uint8_t> buffer_;
  std::uint32_t base_ = 0;  // stream position of buffer_[0]
  std::size_t length_ = 0;
};

}  // namespace archivers::cab::lzx
