#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "cab/lzx_block_codes.h"
#include "cab/lzx_format.h"
#include "cab/lzx_match_finder.h"
#include "cab/lzx_window.h"

namespace archivers::cab::lzx {

// Bit prices of the symbols, from the codes of coded data like what comes next.
struct Prices {
  std::array<std::uint32_t, kMaxMainSymbols> main{};
  std::array<std::uint32_t, kMaxMatch + 1> lengthPart{};  // the length tree's part of a length
  // In an aligned block the low three bits of an offset with three extra bits or more cost their
  // aligned code, not three bits; three bits where the block is verbatim.
  std::array<std::uint32_t, kAlignedSymbols> alignedPart{};

  void set(const BlockCodes& codes, int mainSymbols);
  void setDefaults(int mainSymbols);
  // The main and length codes of a match.
  std::uint32_t match(int slot, std::uint32_t length) const {
    const std::uint32_t header = std::min<std::uint32_t>(length - kMinMatch, kPrimaryLengths);
    return main[256 + slot * 8 + header] + lengthPart[length];
  }
  // The extra bits of a formatted offset in the slot.
  std::uint32_t offset(std::uint32_t formatted, int slot) const {
    const int extra = extraBits(slot);
    if (extra < 3) return static_cast<std::uint32_t>(extra);
    return static_cast<std::uint32_t>(extra - 3) + alignedPart[formatted & 7];
  }
};

// Parses a frame into items: the cheapest path by the prices, through literals, the repeated
// offsets (tracked along each path) and the matches found.
class Parser {
 public:
  Parser(const Window& window, const MatchFinder& matches);

  static std::size_t memory();

  // Appends the frame's items; returns the repeated offsets after them.
  RepeatedOffsets parseFrame(std::uint32_t start, std::uint32_t size, const FrameMatches& matches,
                             const Prices& prices, RepeatedOffsets repeated,
                             std::vector<Item>& items);

 private:
  // The cheapest way found to reach a position of the frame.
  struct Node {
    std::uint32_t cost;
    std::uint32_t from;       // the position the last step starts at
    std::uint32_t length;     // of the last step: 1 for a literal
    std::uint32_t formatted;  // of the last step's match
    RepeatedOffsets repeated;
  };

  void addItem(std::uint32_t position, std::uint32_t length, std::uint32_t formatted,
               std::vector<Item>& items) const;
  void emitPath(std::uint32_t start, std::uint32_t segment, std::uint32_t end,
                std::vector<Item>& items);

  const Window& window_;
  const MatchFinder& matches_;
  std::vector<Node> nodes_;
  std::vector<std::uint32_t> path_;
};

}  // namespace archivers::cab::lzx
