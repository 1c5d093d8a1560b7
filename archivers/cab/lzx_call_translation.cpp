#include "cab/lzx_call_translation.h"

#include "cab/lzx_compressor.h"
#include "common/byte_order.h"

namespace archivers::cab {

namespace lzx {

void translateCalls(std::uint8_t* frame, std::size_t size, std::uint32_t framePosition,
                    std::int32_t translationSize) {
  if (size <= 10) return;
  const std::size_t end = size - 10;
  for (std::size_t i = 0; i < end;) {
    if (frame[i++] != 0xE8) continue;
    const auto position = static_cast<std::int32_t>(framePosition + i - 1);
    const auto displacement = static_cast<std::int32_t>(loadLe32(frame + i));
    std::int32_t target = displacement;
    if (displacement >= -position && displacement < translationSize - position) {
      target = displacement + position;
    } else if (displacement >= translationSize - position && displacement < translationSize) {
      target = displacement - translationSize;
    }
    storeLe32(frame + i, static_cast<std::uint32_t>(target));
    i += 4;
  }
}

}  // namespace lzx

void X86CallCounter::add(std::span<const std::uint8_t> bytes) {
  bytes_ += bytes.size();
  for (std::size_t i = 0; i + 5 <= bytes.size(); ++i) {
    if (bytes[i] != 0xE8) continue;
    const auto displacement = static_cast<std::int32_t>(loadLe32(bytes.data() + i + 1));
    if (displacement >= -(1 << 22) && displacement < (1 << 22)) {
      ++calls_;
      i += 4;
    }
  }
}

}  // namespace archivers::cab
