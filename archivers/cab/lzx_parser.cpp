#include "cab/lzx_parser.h"

#include "common/match_length.h"

namespace archivers::cab::lzx {
namespace {

constexpr std::uint32_t kNotReached = 0xFFFFFFFF;

}  // namespace

void Prices::set(const BlockCodes& codes, int mainSymbols) {
  // Symbols the data did not use are dear but not out of reach.
  for (int i = 0; i < mainSymbols; ++i) {
    main[i] = codes.main.lengths[i] != 0 ? codes.main.lengths[i] : 13;
  }
  for (std::uint32_t n = kMinMatch + kPrimaryLengths; n <= kMaxMatch; ++n) {
    const std::uint8_t bits = codes.length.lengths[n - kMinMatch - kPrimaryLengths];
    lengthPart[n] = bits != 0 ? bits : 11;
  }
  for (int i = 0; i < kAlignedSymbols; ++i) {
    alignedPart[i] = !codes.alignedBlock             ? 3
                     : codes.aligned.lengths[i] != 0 ? codes.aligned.lengths[i]
                                                     : 7;
  }
}

void Prices::setDefaults(int mainSymbols) {
  for (int i = 0; i < mainSymbols; ++i) main[i] = i < 256 ? 8 : 10;
  for (std::uint32_t n = kMinMatch + kPrimaryLengths; n <= kMaxMatch; ++n) lengthPart[n] = 8;
  alignedPart.fill(3);
}

Parser::Parser(const Window& window, const MatchFinder& matches)
    : window_(window), matches_(matches), nodes_(kFrameBytes + 1) {}

std::size_t Parser::memory() {
  return (kFrameBytes + 1) * (sizeof(Node) + sizeof(std::uint32_t));
}

void Parser::addItem(std::uint32_t position, std::uint32_t length, std::uint32_t formatted,
                     std::vector<Item>& items) const {
  if (length == 1) {
    items.push_back({*window_.at(position), kNoLength, 0, 0});
    return;
  }
  const int slot = slotOf(formatted);
  const std::uint32_t header = std::min<std::uint32_t>(length - kMinMatch, kPrimaryLengths);
  items.push_back({static_cast<std::uint16_t>(256 + slot * 8 + header),
                   header == kPrimaryLengths
                       ? static_cast<std::uint8_t>(length - kMinMatch - kPrimaryLengths)
                       : kNoLength,
                   static_cast<std::uint8_t>(extraBits(slot)), formatted - slotBase(slot)});
}

// Appends the items of the cheapest path from segment to end (positions in the frame).
void Parser::emitPath(std::uint32_t start, std::uint32_t segment, std::uint32_t end,
                      std::vector<Item>& items) {
  path_.clear();
  for (std::uint32_t i = end; i > segment; i = nodes_[i].from) path_.push_back(i);
  for (auto it = path_.rbegin(); it != path_.rend(); ++it) {
    const Node& node = nodes_[*it];
    addItem(start + node.from, node.length, node.formatted, items);
  }
}

RepeatedOffsets Parser::parseFrame(std::uint32_t start, std::uint32_t size,
                                   const FrameMatches& matches, const Prices& prices,
                                   RepeatedOffsets repeated, std::vector<Item>& items) {
  std::uint32_t reached = 0;
  std::uint32_t segment = 0;
  nodes_[0] = {0, 0, 0, 0, repeated};
  auto relax = [&](std::uint32_t to, std::uint32_t cost, std::uint32_t from, std::uint32_t length,
                   std::uint32_t formatted) {
    while (reached < to) nodes_[++reached].cost = kNotReached;
    Node& node = nodes_[to];
    if (cost < node.cost) {
      node.cost = cost;
      node.from = from;
      node.length = length;
      node.formatted = formatted;
    }
  };
  // A long match is taken as it is: the path so far is settled and a new one starts after it.
  auto settle = [&](std::uint32_t i, std::uint32_t length, std::uint32_t formatted) {
    emitPath(start, segment, i, items);
    addItem(start + i, length, formatted, items);
    segment = i + length;
    reached = segment;
    nodes_[segment] = {0, 0, 0, 0, afterMatch(nodes_[i].repeated, formatted)};
    return segment;
  };
  for (std::uint32_t i = 0; i < size; ++i) {
    Node& node = nodes_[i];
    if (i != segment) {
      const Node& from = nodes_[node.from];
      node.repeated = node.length == 1 ? from.repeated : afterMatch(from.repeated, node.formatted);
    }
    const std::uint8_t* here = window_.at(start + i);
    relax(i + 1, node.cost + prices.main[here[0]], i, 1, 0);
    const std::uint32_t limit = std::min<std::uint32_t>(kMaxMatch, size - i);
    if (limit < kMinMatch) continue;
    const RepeatedOffsets offsets = node.repeated;
    const std::uint32_t cost = node.cost;
    bool settled = false;
    for (std::uint32_t r = 0; r < 3 && !settled; ++r) {
      if (offsets[r] > start + i || (r > 0 && offsets[r] == offsets[0])) continue;
      const std::uint32_t length = matchLength(here, here - offsets[r], limit);
      if (length >= matches_.niceLength()) {
        i = settle(i, length, r) - 1;
        settled = true;
      } else {
        for (std::uint32_t l = kMinMatch; l <= length; ++l) {
          relax(i + l, cost + prices.match(static_cast<int>(r), l), i, l, r);
        }
      }
    }
    if (settled) continue;
    std::uint32_t shorter = kMinMatch;
    for (const FoundMatch found : matches.at(i)) {
      const std::uint32_t distance = found >> 8;
      const std::uint32_t length = (found & 0xFF) + kMinMatch;
      if (distance == offsets[0] || distance == offsets[1] || distance == offsets[2]) {
        shorter = length;
        continue;
      }
      const std::uint32_t formatted = distance + 2;
      if (length >= matches_.niceLength()) {
        i = settle(i, length, formatted) - 1;
        break;
      }
      const int slot = slotOf(formatted);
      const std::uint32_t offsetCost = cost + prices.offset(formatted, slot);
      for (std::uint32_t l = shorter + 1; l <= length; ++l) {
        relax(i + l, offsetCost + prices.match(slot, l), i, l, formatted);
      }
      shorter = length;
    }
  }
  if (segment < size) {
    emitPath(start, segment, size, items);
    const Node& last = nodes_[size];
    const Node& from = nodes_[last.from];
    return last.length == 1 ? from.repeated : afterMatch(from.repeated, last.formatted);
  }
  return nodes_[size].repeated;
}

}  // namespace archivers::cab::lzx
