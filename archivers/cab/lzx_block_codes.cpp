#include "cab/lzx_block_codes.h"

#include "cab/lzx_tree_section.h"

namespace archivers::cab::lzx {

void Frequencies::add(std::span<const Item> items) {
  for (const Item& item : items) {
    ++main[item.mainSymbol];
    if (item.lengthSymbol != kNoLength) ++length[item.lengthSymbol];
    offsetBits += item.offsetBitCount;
    if (item.offsetBitCount >= 3) {
      ++aligned[item.offsetBits & 7];
      alignedOffsetBits += item.offsetBitCount - 3;
    } else {
      alignedOffsetBits += item.offsetBitCount;
    }
  }
}

void Frequencies::add(const Frequencies& other) {
  for (std::size_t i = 0; i < main.size(); ++i) main[i] += other.main[i];
  for (std::size_t i = 0; i < length.size(); ++i) length[i] += other.length[i];
  for (std::size_t i = 0; i < aligned.size(); ++i) aligned[i] += other.aligned[i];
  offsetBits += other.offsetBits;
  alignedOffsetBits += other.alignedOffsetBits;
}

BlockCodes codesFor(const Frequencies& frequencies, int mainSymbols,
                    const PreviousTrees& previous) {
  BlockCodes codes;
  codes.main.buildWithTwoCodes(frequencies.main);
  codes.length.buildWithTwoCodes(frequencies.length);
  codes.aligned.buildWithTwoCodes(frequencies.aligned);
  std::uint64_t alignedCost = 3 * kAlignedSymbols + frequencies.alignedOffsetBits;
  for (int i = 0; i < kAlignedSymbols; ++i) {
    alignedCost += std::uint64_t{frequencies.aligned[i]} * codes.aligned.lengths[i];
  }
  codes.alignedBlock = alignedCost < frequencies.offsetBits;
  codes.bits = 3 + 24 + (codes.alignedBlock ? alignedCost : frequencies.offsetBits);
  for (int i = 0; i < mainSymbols; ++i) {
    codes.bits += std::uint64_t{frequencies.main[i]} * codes.main.lengths[i];
  }
  for (int i = 0; i < kLengthSymbols; ++i) {
    codes.bits += std::uint64_t{frequencies.length[i]} * codes.length.lengths[i];
  }
  const auto main = std::span(codes.main.lengths).first(mainSymbols);
  const auto previousMain = std::span(previous.main).first(mainSymbols);
  codes.bits += treeSectionBits(main.first(256), previousMain.first(256));
  codes.bits += treeSectionBits(main.subspan(256), previousMain.subspan(256));
  codes.bits += treeSectionBits(codes.length.lengths, previous.length);
  return codes;
}

}  // namespace archivers::cab::lzx
