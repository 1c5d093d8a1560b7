#include "cab/lzx_match_finder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "cab/lzx_format.h"
#include "common/byte_order.h"
#include "common/match_length.h"

namespace archivers::cab::lzx {
namespace {

constexpr int kHashBits = 18;   // of four bytes: the roots of the binary trees
constexpr int kHash3Bits = 15;  // of three bytes: the last position with them
// After this many positions in a row without a match of 4 bytes the data looks incompressible:
// positions are passed over unsearched, one more for every further run of this length.
constexpr std::uint32_t kMissesBeforeSkipping = 32;

std::uint32_t hashOf(const std::uint8_t* p) {
  return (loadLe32(p) * 2654435761u) >> (32 - kHashBits);
}
std::uint32_t hash3Of(const std::uint8_t* p) {
  const std::uint32_t value = p[0] | p[1] << 8 | p[2] << 16;
  return (value * 2654435761u) >> (32 - kHash3Bits);
}

}  // namespace

MatchFinder::MatchFinder(int windowBits, SearchEffort effort, const Window& window)
    : window_(window),
      effort_(effort),
      // The format allows window - 3, but 7-Zip decodes that offset wrongly.
      maxDistance_((1u << windowBits) - 4),
      treeSpan_(std::min(1u << windowBits, 1u << effort.treeBits)),
      head_(1u << kHashBits),
      head3_(1u << kHash3Bits),
      tree_(2 * std::size_t{treeSpan_}) {}

SearchEffort searchEffort(int level) {
  // At level 2 the trees reach 256 KiB back: matches from further back in the window come from
  // the three-byte table and the repeated offsets. On mixed data that costs under 2% and saves
  // 40% of the search time, most of it cache misses in larger trees. A match of 16 bytes is
  // taken whole: weighing the paths through it, and telling the tree's strings apart beyond 16
  // bytes, bought 1.4% of the mixed tree's cabinet for a quarter of the coding time.
  static constexpr SearchEffort kLevels[] = {{16, 4, 18}, {16, 12, 18}, {32, 16, 20}};
  return kLevels[std::clamp(level, 1, 3) - 1];
}

std::size_t MatchFinder::memory(int windowBits, SearchEffort effort) {
  return 8 * std::min(std::size_t{1} << windowBits, std::size_t{1} << effort.treeBits) +
         (4u << kHashBits) + (4u << kHash3Bits);
}

void MatchFinder::reset() {
  deferredFrom_ = kNoPosition;
  std::fill(head_.begin(), head_.end(), 0);
  std::fill(head3_.begin(), head3_.end(), 0);
}

// Inserts position into the binary tree of the earlier positions with the same hash, sorted by
// their next niceLength bytes. Into found (when given) go the matches longer than any before
// them, by increasing length, each ending by frameEnd; returns how many. A position with fewer
// bytes before frameEnd only searches: inserted on fewer bytes, it would leave the tree out of
// order. It is inserted with the next frame. Nothing past frameEnd is read, so the matches do not
// depend on how much of the folder the window holds yet.
std::uint32_t MatchFinder::searchTree(std::uint32_t position, std::uint32_t frameEnd,
                                      FoundMatch* found) {
  const std::uint32_t available = frameEnd - position;
  if (available < 4) return 0;
  const bool insert = available >= effort_.niceLength;
  if (!insert) deferredFrom_ = std::min(deferredFrom_, position);
  const std::uint32_t treeLimit = std::min<std::uint32_t>(effort_.niceLength, available);
  const std::uint32_t frameLimit = std::min<std::uint32_t>(kMaxMatch, frameEnd - position);
  const std::uint8_t* here = window_.at(position);
  const std::uint32_t oldest = position > maxDistance_ ? position - maxDistance_ : 0;
  std::uint32_t reportedLongest = 2;
  std::uint32_t count = 0;
  // The tree's strings share four bytes: a three-byte match comes from the last position with
  // the same three.
  std::uint32_t& last3 = head3_[hash3Of(here)];
  if (found != nullptr && last3 > oldest && last3 <= position) {
    const std::uint32_t length = matchLength(here, window_.at(last3 - 1), frameLimit);
    if (length >= 3) {
      found[count++] = (position - (last3 - 1)) << 8 | (length - kMinMatch);
      reportedLongest = length;
    }
  }
  if (insert) last3 = position + 1;
  std::uint32_t& head = head_[hashOf(here)];
  std::uint32_t candidate = head;
  if (insert) head = position + 1;
  const std::uint32_t mask = treeSpan_ - 1;
  // A node older than the span has had its place taken by a newer position.
  const std::uint32_t treeOldest =
      position >= treeSpan_ ? std::max(oldest, position - treeSpan_ + 1) : oldest;
  std::uint32_t* smaller = &tree_[2 * (position & mask)];
  std::uint32_t* larger = smaller + 1;
  std::uint32_t smallerLength = 0;
  std::uint32_t largerLength = 0;
  std::uint32_t longest = 0;
  for (std::uint32_t depth = effort_.depth;; --depth) {
    if (candidate <= treeOldest || depth == 0) {
      if (insert) {
        *smaller = 0;
        *larger = 0;
      }
      break;
    }
    const std::uint32_t source = candidate - 1;
    const std::uint8_t* there = window_.at(source);
    std::uint32_t* node = &tree_[2 * (source & mask)];
    std::uint32_t length = std::min(smallerLength, largerLength);
    length += matchLength(here + length, there + length, treeLimit - length);
    if (length > longest) {
      longest = length;
      if (found != nullptr) {
        std::uint32_t reported = std::min(length, frameLimit);
        if (length == treeLimit && frameLimit > treeLimit) {
          reported += matchLength(here + treeLimit, there + treeLimit, frameLimit - treeLimit);
        }
        if (reported > reportedLongest) {
          reportedLongest = reported;
          const FoundMatch match = (position - source) << 8 | (reported - kMinMatch);
          if (count == kMatchesPerPosition) {
            found[count - 1] = match;
          } else {
            found[count++] = match;
          }
        }
      }
    }
    if (length == treeLimit) {
      // As long a match as the tree tells apart: the new position takes the old one's place.
      if (insert) {
        *smaller = node[0];
        *larger = node[1];
      }
      break;
    }
    if (there[length] < here[length]) {
      if (insert) {
        *smaller = candidate;
        smaller = &node[1];
      }
      candidate = node[1];
      smallerLength = length;
    } else {
      if (insert) {
        *larger = candidate;
        larger = &node[0];
      }
      candidate = node[0];
      largerLength = length;
    }
  }
  return count;
}

// Within stretches that a long match covers, and in data that looks incompressible, positions
// are passed over: not searched, nor put in the tree. The tree stays sound without them; later
// data finds the copy a long match came from instead.
void MatchFinder::findMatches(std::uint32_t start, std::uint32_t size, FrameMatches& into) {
  const std::uint32_t end = start + size;
  // What was searched without more data after it goes into the tree now, in order.
  for (std::uint32_t deferred = std::exchange(deferredFrom_, kNoPosition);
       deferred < start && deferred + effort_.niceLength <= end; ++deferred) {
    searchTree(deferred, end, nullptr);
  }
  std::uint32_t misses = 0;
  for (std::uint32_t i = 0; i < size;) {
    FoundMatch* found = &into.found_[std::size_t{i} * kMatchesPerPosition];
    const std::uint32_t count = searchTree(start + i, end, found);
    into.count_[i] = static_cast<std::uint8_t>(count);
    const std::uint32_t longest = count > 0 ? (found[count - 1] & 0xFF) + kMinMatch : 0;
    ++i;
    if (longest >= effort_.niceLength) {
      for (const std::uint32_t last = i - 1 + longest; i < last; ++i) into.count_[i] = 0;
      misses = 0;
    } else if (longest >= 4) {
      misses = 0;
    } else {
      ++misses;
      for (std::uint32_t skip = misses / kMissesBeforeSkipping; skip > 0 && i < size; --skip) {
        into.count_[i++] = 0;
      }
    }
  }
}

bool MatchFinder::looksIncompressible(std::uint32_t start, std::uint32_t size,
                                      const FrameMatches& matches) const {
  std::uint32_t matched = 0;
  for (std::uint32_t i = 0; i < size; ++i) matched += matches.count_[i] != 0 ? 1 : 0;
  if (matched * 64 > size) return false;
  std::array<std::uint32_t, 256> counts{};
  const std::uint8_t* bytes = window_.at(start);
  for (std::uint32_t i = 0; i < size; ++i) ++counts[bytes[i]];
  double bits = 0;
  for (const std::uint32_t count : counts) {
    if (count != 0) bits += count * std::log2(static_cast<double>(size) / count);
  }
  return bits > 7.98 * size;
}

}  // namespace archivers::cab::lzx
