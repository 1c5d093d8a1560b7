#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "cab/lzx_format.h"
#include "cab/lzx_window.h"

namespace archivers::cab::lzx {

// A match found: distance << 8 | length - 2.
using FoundMatch = std::uint32_t;

// The matches found at each position of one frame, in order of increasing length.
class FrameMatches {
 public:
  static constexpr std::uint32_t kPerPosition = 12;
  static std::size_t memory() { return kFrameBytes * (kPerPosition * sizeof(FoundMatch) + 1); }

  FrameMatches() : found_(std::size_t{kFrameBytes} * kPerPosition), count_(kFrameBytes) {}
  std::span<const FoundMatch> at(std::uint32_t offsetInFrame) const {
    return std::span(found_).subspan(std::size_t{offsetInFrame} * kPerPosition,
                                     count_[offsetInFrame]);
  }

 private:
  friend class MatchFinder;
  std::vector<FoundMatch> found_;
  std::vector<std::uint8_t> count_;
};

// How hard the match finder looks: matches at least niceLength long end the search at a
// position (and are taken without weighing the paths through the positions they cover); at most
// depth nodes of a tree are visited; the trees hold the last 2^treeBits positions.
struct SearchEffort {
  std::uint32_t niceLength;
  std::uint32_t depth;
  int treeBits;
};
// 1 (fastest) to 3 (smallest); levels out of range take the nearest.
SearchEffort searchEffort(int level);
inline constexpr std::uint32_t kMaxNiceLength = 64;

// Binary trees rooted on a 4-byte hash, holding the last 2^treeBits positions at most, beside a
// 3-byte table that reaches the whole window. Long matches and data that looks incompressible
// are passed over: their positions are neither searched nor put in the trees.
class MatchFinder {
 public:
  MatchFinder(int windowBits, SearchEffort effort, const Window& window);

  static std::size_t memory(int windowBits, SearchEffort effort);

  std::uint32_t niceLength() const { return effort_.niceLength; }
  void reset();
  // Finds the matches at the positions of the frame at start. Only the window before the
  // frame's end is read, and what is found depends on nothing beyond it.
  void findMatches(std::uint32_t start, std::uint32_t size, FrameMatches& into);
  // Next to no matches and bytes near evenly spread (7.98 bits of entropy a byte, where random
  // data gives 7.99): no parse would shrink the frame, and its codes would misprice the next.
  bool looksIncompressible(std::uint32_t start, std::uint32_t size,
                           const FrameMatches& matches) const;

 private:
  static constexpr std::uint32_t kMatchesPerPosition = FrameMatches::kPerPosition;
  static constexpr std::uint32_t kNoPosition = 0xFFFFFFFF;

  std::uint32_t searchTree(std::uint32_t position, std::uint32_t frameEnd, FoundMatch* found);

  const Window& window_;
  const SearchEffort effort_;
  const std::uint32_t maxDistance_;
  const std::uint32_t treeSpan_;
  std::vector<std::uint32_t> head_;  // hash to the last position + 1 with it, 0 for none
  std::vector<std::uint32_t> head3_;
  std::vector<std::uint32_t> tree_;           // position to its smaller and larger children (+ 1)
  std::uint32_t deferredFrom_ = kNoPosition;  // positions from here on are not in the tree
};

}  // namespace archivers::cab::lzx
