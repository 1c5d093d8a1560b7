#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "cab/block_compressor.h"

namespace archivers::cab {

inline constexpr int kLzxMinWindowBits = 15;
inline constexpr int kLzxMaxWindowBits = 21;

// LZX with a window of 2^windowBits bytes: one LZX stream per folder, each data block one 32 KiB
// frame. Up to eight frames are held back and coded together, in LZX blocks (verbatim or aligned
// offset) cut where the data changes: at most every 4 KiB and where a file begins, joined again
// where one set of trees costs less than two. A file's stretch that would not shrink, noise
// between text, is an uncompressed block mid-frame; so is a frame that would not shrink.
// Call translation (E8) is on for folders whose traits say they look like x86 code. With threads
// above 1 the next frame's matches are found on a second thread while a frame is parsed; what is
// written is the same either way.
std::unique_ptr<BlockCompressor> makeLzxCompressor(int windowBits, unsigned threads = 1);
std::size_t lzxCompressorMemory(int windowBits);

// Tells x86 code from other data by its calls: E8 followed by a 32-bit displacement within
// +-4 MiB, which random bytes give once in 128 KiB and text never.
class X86CallCounter {
 public:
  void add(std::span<const std::uint8_t> bytes);
  bool looksLikeCode() const { return calls_ * kBytesPerCall >= bytes_ && calls_ > 0; }

 private:
  static constexpr std::uint64_t kBytesPerCall = 1024;
  std::uint64_t bytes_ = 0;
  std::uint64_t calls_ = 0;
};

}  // namespace archivers::cab
