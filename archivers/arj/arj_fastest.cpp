#include "arj/arj_fastest.h"

#include "common/archive_error.h"

namespace archivers::arj {

namespace {

constexpr unsigned kMinMatch = 3;

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
