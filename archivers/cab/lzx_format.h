#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

// What an LZX stream is made of: symbols, position slots, repeated offsets and the coded items
// that the parse hands to block planning and the bit stream.
namespace archivers::cab::lzx {

inline constexpr int kMinMatch = 2;
inline constexpr int kMaxMatch = 257;
inline constexpr int kPrimaryLengths = 7;  // a match length header of 7 means "see the length tree"
inline constexpr int kLengthSymbols = 249;
inline constexpr int kAlignedSymbols = 8;
inline constexpr int kPretreeSymbols = 20;
inline constexpr int kMaxMainSymbols = 256 + 8 * 50;
inline constexpr int kFrameBytes = 32768;  // a cabinet data block: the reader's unit of output

inline constexpr int kBlockVerbatim = 1;
inline constexpr int kBlockAligned = 2;
inline constexpr int kBlockUncompressed = 3;

inline int positionSlots(int windowBits) {
  static constexpr int kSlots[] = {30, 32, 34, 36, 38, 42, 50};
  return kSlots[windowBits - 15];
}

// Offsets are coded as formatted offsets (the offset + 2; 0 to 2 name the repeated offsets) in
// position slots: slot s covers extraBits(s) bits from slotBase(s).
inline int extraBits(int slot) {
  return slot < 4 ? 0 : std::min(slot / 2 - 1, 17);
}

inline std::uint32_t slotBase(int slot) {
  if (slot < 4) return static_cast<std::uint32_t>(slot);
  if (slot < 36) return (2u | (slot & 1)) << (slot / 2 - 1);
  return (1u << 18) + (static_cast<std::uint32_t>(slot - 36) << 17);
}

inline int slotOf(std::uint32_t formatted) {
  if (formatted < 4) return static_cast<int>(formatted);
  if (formatted >= (1u << 18)) return 36 + static_cast<int>((formatted - (1u << 18)) >> 17);
  const int high = 31 - __builtin_clz(formatted);
  return 2 * high + static_cast<int>((formatted >> (high - 1)) & 1);
}

// One coded symbol: a literal, or a match's main symbol with its length and offset.
struct Item {
  std::uint16_t mainSymbol;
  std::uint8_t lengthSymbol;    // kNoLength unless the length header is 7
  std::uint8_t offsetBitCount;  // extra bits of the offset
  std::uint32_t offsetBits;     // the formatted offset minus its slot's base
};
inline constexpr std::uint8_t kNoLength = 0xFF;
static_assert(kLengthSymbols < kNoLength);

inline std::uint32_t itemBytes(const Item& item) {
  if (item.mainSymbol < 256) return 1;
  const std::uint32_t header = (item.mainSymbol - 256) & 7;
  return header < kPrimaryLengths ? header + kMinMatch
                                  : item.lengthSymbol + kMinMatch + kPrimaryLengths;
}

using RepeatedOffsets = std::array<std::uint32_t, 3>;
inline constexpr RepeatedOffsets kInitialRepeatedOffsets = {1, 1, 1};

inline RepeatedOffsets afterMatch(RepeatedOffsets repeated, std::uint32_t formatted) {
  if (formatted < 3) {
    std::swap(repeated[0], repeated[formatted]);
    return repeated;
  }
  return {formatted - 2, repeated[0], repeated[1]};
}

inline RepeatedOffsets afterItem(const RepeatedOffsets& repeated, const Item& item) {
  if (item.mainSymbol < 256) return repeated;
  const int slot = (item.mainSymbol - 256) >> 3;
  return afterMatch(repeated, slotBase(slot) + item.offsetBits);
}

}  // namespace archivers::cab::lzx
