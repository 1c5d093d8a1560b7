#include "cab/lzx_tree_section.h"

#include <algorithm>
#include <array>

#include "cab/lzx_format.h"
#include "common/prefix_code.h"

namespace archivers::cab::lzx {
namespace {

struct PretreeCode {
  std::uint8_t symbol;
  std::uint8_t extraBitCount;
  std::uint8_t extra;
  std::uint8_t repeatedSymbol;  // after code 19, the change that applies to the whole run
};

// The pretree codes of a section and the pretree that codes them.
struct Section {
  std::array<PretreeCode, kMaxMainSymbols> codes;
  std::size_t size = 0;
  PrefixCode<kPretreeSymbols, 15> pretree;  // its lengths are sent in 4 bits

  Section(std::span<const std::uint8_t> lengths, std::span<const std::uint8_t> previous) {
    auto change = [&](std::size_t i) {
      return static_cast<std::uint8_t>((previous[i] + 17 - lengths[i]) % 17);
    };
    for (std::size_t i = 0; i < lengths.size();) {
      std::size_t run = 1;
      while (i + run < lengths.size() && lengths[i + run] == lengths[i]) ++run;
      if (lengths[i] == 0 && run >= 20) {
        run = std::min<std::size_t>(run, 51);
        codes[size++] = {18, 5, static_cast<std::uint8_t>(run - 20), 0};
      } else if (lengths[i] == 0 && run >= 4) {
        run = std::min<std::size_t>(run, 19);
        codes[size++] = {17, 4, static_cast<std::uint8_t>(run - 4), 0};
      } else if (run >= 4) {
        run = std::min<std::size_t>(run, 5);
        codes[size++] = {19, 1, static_cast<std::uint8_t>(run - 4), change(i)};
      } else {
        run = 1;
        codes[size++] = {change(i), 0, 0, 0};
      }
      i += run;
    }
    std::array<std::uint32_t, kPretreeSymbols> frequencies{};
    for (const PretreeCode& code : used()) {
      ++frequencies[code.symbol];
      if (code.symbol == 19) ++frequencies[code.repeatedSymbol];
    }
    pretree.buildWithTwoCodes(frequencies);
  }

  std::span<const PretreeCode> used() const { return std::span(codes).first(size); }
};

}  // namespace

std::uint64_t treeSectionBits(std::span<const std::uint8_t> lengths,
                              std::span<const std::uint8_t> previous) {
  const Section section(lengths, previous);
  std::uint64_t bits = 4 * kPretreeSymbols;
  for (const PretreeCode& code : section.used()) {
    bits += section.pretree.lengths[code.symbol] + code.extraBitCount;
    if (code.symbol == 19) bits += section.pretree.lengths[code.repeatedSymbol];
  }
  return bits;
}

void writeTreeSection(BitWriter& bits, std::span<const std::uint8_t> lengths,
                      std::span<const std::uint8_t> previous) {
  const Section section(lengths, previous);
  const auto& pretree = section.pretree;
  const int lookahead = lookaheadOf(pretree.lengths);
  for (std::uint8_t length : pretree.lengths) bits.put(length, 4);
  for (const PretreeCode& code : section.used()) {
    bits.putCode(pretree.codes[code.symbol], pretree.lengths[code.symbol], lookahead);
    if (code.extraBitCount > 0) bits.put(code.extra, code.extraBitCount);
    if (code.symbol == 19) {
      bits.putCode(pretree.codes[code.repeatedSymbol], pretree.lengths[code.repeatedSymbol],
                   lookahead);
    }
  }
}

}  // namespace archivers::cab::lzx
