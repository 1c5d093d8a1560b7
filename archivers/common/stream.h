#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/crc.h"
#include "common/input_file.h"

namespace archivers {

// Where a decoder or encoder takes its bytes from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to count bytes; 0 only at the end of the data.
  virtual std::size_t read(std::uint8_t* data, std::size_t count) = 0;
};

// Where a decoder or encoder delivers its output, in order.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void write(const std::uint8_t* data, std::size_t size) = 0;
};

// A source over bytes already in memory.
class MemorySource : public ByteSource {
 public:
  MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::size_t read(std::uint8_t* data, std::size_t count) override {
    const std::size_t available = std::min(count, size_ - position_);
    if (available > 0) std::memcpy(data, data_ + position_, available);
    position_ += available;
    return available;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

// One member's stored bytes: the archive file from its current position, never past limit bytes.
class BoundedSource : public ByteSource {
 public:
  BoundedSource(InputFile& file, std::uint64_t limit) : file_(file), left_(limit) {}
  std::size_t read(std::uint8_t* data, std::size_t count) override {
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(count, left_));
    const std::size_t got = wanted == 0 ? 0 : file_.read(data, wanted);
    left_ -= got;
    return got;
  }
  std::uint64_t left() const { return left_; }

 private:
  InputFile& file_;
  std::uint64_t left_;
};

// Passes output on to another sink, taking its CRC on the way.
template <typename Value, Value (*Update)(Value, const void*, std::size_t)>
class CrcPassThrough : public ByteSink {
 public:
  explicit CrcPassThrough(ByteSink& next) : next_(next) {}
  void write(const std::uint8_t* data, std::size_t size) override {
    crc_ = Update(crc_, data, size);
    next_.write(data, size);
  }
  Value crc() const { return crc_; }

 private:
  ByteSink& next_;
  Value crc_ = 0;
};

using Crc16PassThrough = CrcPassThrough<std::uint16_t, crc16>;
using Crc32PassThrough = CrcPassThrough<std::uint32_t, crc32>;

}  // namespace archivers
