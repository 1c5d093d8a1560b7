#pragma once

// Hand-made input for the decoders, and what they make of it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/stream.h"

// Writes bits most significant first, as the LZ decoders read them.
class BitWriter {
 public:
  BitWriter& put(std::uint32_t value, unsigned count) {
    for (unsigned bit = count; bit-- > 0;) {
      if (used_ % 8 == 0) bytes_.push_back(0);
      if ((value >> bit) & 1) bytes_.back() |= static_cast<std::uint8_t>(0x80 >> (used_ % 8));
      ++used_;
    }
    return *this;
  }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  unsigned used_ = 0;
};

// A number laid out little-endian in the given width in bytes, as the archive headers hold them.
inline std::string le(std::uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i) & 0xFF));
  return out;
}

// The little-endian number of the given width in bytes at a position.
inline std::uint32_t leAt(const std::string& bytes, std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int i = width; i-- > 0;) value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

struct StringSink : archivers::ByteSink {
  std::string data;
  void write(const std::uint8_t* bytes, std::size_t size) override {
    data.append(reinterpret_cast<const char*>(bytes), size);
  }
};
