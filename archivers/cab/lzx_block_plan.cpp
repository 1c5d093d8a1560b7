#include "cab/lzx_block_plan.h"

#include <algorithm>

namespace archivers::cab::lzx {
namespace {

// Blocks are cut from pieces this long at most, and shorter where a file begins, but no shorter
// than kMinPieceBytes: a chunk holds at most 256 pieces, however small the files.
constexpr std::uint32_t kPieceBytes = 4096;
constexpr std::uint32_t kMinPieceBytes = 1024;

// Uncompressed in a block of its own, mid-frame: its header, 1 to 16 bits of padding, R0-R2,
// the bytes and a padding byte after an odd count. A frame's end must fall on a 16-bit word,
// so an odd block never ends one.
std::optional<std::uint64_t> uncompressedBits(const PlannedBlock& block) {
  if (!block.withinFrame || (block.endsFrame && (block.bytes & 1) != 0)) return std::nullopt;
  return 3 + 24 + 16 + 96 + 8 * std::uint64_t{block.bytes + (block.bytes & 1)};
}

std::uint64_t blockBits(const PlanContext& context, PlannedBlock& block) {
  if (block.tail) return *uncompressedBits(block);
  const std::uint64_t compressed =
      codesFor(block.frequencies, context.mainSymbols, context.previous).bits;
  const std::optional<std::uint64_t> uncompressed = uncompressedBits(block);
  block.uncompressed = uncompressed && *uncompressed < compressed;
  return block.uncompressed ? *uncompressed : compressed;
}

PlannedBlock joined(const PlannedBlock& a, const PlannedBlock& b) {
  PlannedBlock block = a;
  block.endItem = b.endItem;
  block.frequencies.add(b.frequencies);
  block.bytes += b.bytes;
  block.withinFrame = a.withinFrame && b.withinFrame && !a.endsFrame;
  block.endsFrame = b.endsFrame;
  return block;
}

// The first of the frame's last items that hold an even number of bytes, at least two, so that
// the frame's end stays on a 16-bit word.
std::size_t tailStart(const PlanContext& context, const PendingFrame& frame) {
  if (!frame.uncompressedTail) return frame.endItem;
  std::size_t first = frame.endItem;
  std::uint32_t bytes = 0;
  while (first > frame.firstItem && (bytes < 2 || (bytes & 1) != 0)) {
    bytes += itemBytes(context.items[--first]);
  }
  return first;
}

PlannedBlock tailBlock(const PlanContext& context, const PendingFrame& frame, std::size_t first) {
  PlannedBlock block{first, frame.endItem, {}, 0, true, true, true, true};
  for (std::size_t i = first; i < frame.endItem; ++i) block.bytes += itemBytes(context.items[i]);
  return block;
}

}  // namespace

std::vector<PlannedBlock> planBlocks(const PlanContext& context,
                                     std::span<const PendingFrame> frames, std::uint32_t start) {
  std::vector<PlannedBlock> blocks;
  std::uint32_t position = start;
  auto nextMember =
      std::upper_bound(context.memberStarts.begin(), context.memberStarts.end(), position);
  for (const PendingFrame& frame : frames) {
    const std::size_t tail = tailStart(context, frame);
    std::size_t pieceStart = frame.firstItem;
    std::uint32_t bytes = 0;
    for (std::size_t i = frame.firstItem; i < tail; ++i) {
      const std::uint32_t length = itemBytes(context.items[i]);
      bytes += length;
      position += length;
      bool fileStarts = false;
      for (; nextMember != context.memberStarts.end() && *nextMember <= position; ++nextMember) {
        fileStarts = true;
      }
      if (bytes >= kPieceBytes || i + 1 == tail || (fileStarts && bytes >= kMinPieceBytes)) {
        PlannedBlock piece{pieceStart, i + 1, {}, bytes, true, i + 1 == frame.endItem};
        piece.frequencies.add(context.items.subspan(pieceStart, i + 1 - pieceStart));
        blocks.push_back(piece);
        pieceStart = i + 1;
        bytes = 0;
      }
    }
    if (tail != frame.endItem) {
      blocks.push_back(tailBlock(context, frame, tail));
      position += blocks.back().bytes;
    }
  }
  const std::size_t count = blocks.size();
  std::vector<std::uint64_t> bits(count);
  std::vector<std::uint64_t> joinedBits(count);
  std::vector<char> joinedUncompressed(count);
  std::vector<std::size_t> next(count);  // the block after, count for none
  auto priceJoin = [&](std::size_t i) {
    if (blocks[i].tail || blocks[next[i]].tail) {
      joinedBits[i] = bits[i] + bits[next[i]];  // saves nothing: never joined
      return;
    }
    PlannedBlock block = joined(blocks[i], blocks[next[i]]);
    joinedBits[i] = blockBits(context, block);
    joinedUncompressed[i] = block.uncompressed;
  };
  for (std::size_t i = 0; i < count; ++i) {
    bits[i] = blockBits(context, blocks[i]);
    next[i] = i + 1;
  }
  for (std::size_t i = 0; i + 1 < count; ++i) priceJoin(i);
  for (;;) {
    std::size_t best = count;
    std::size_t beforeBest = count;
    std::int64_t bestSaving = 0;
    for (std::size_t i = 0, before = count; next[i] < count; before = i, i = next[i]) {
      const std::int64_t saving = static_cast<std::int64_t>(bits[i] + bits[next[i]]) -
                                  static_cast<std::int64_t>(joinedBits[i]);
      if (saving > bestSaving) {
        bestSaving = saving;
        best = i;
        beforeBest = before;
      }
    }
    if (best == count) break;
    const std::size_t gone = next[best];
    blocks[best] = joined(blocks[best], blocks[gone]);
    blocks[best].uncompressed = joinedUncompressed[best];
    bits[best] = joinedBits[best];
    next[best] = next[gone];
    if (next[best] < count) priceJoin(best);
    if (beforeBest < count) priceJoin(beforeBest);
  }
  std::vector<PlannedBlock> kept;
  for (std::size_t i = 0; i < count; i = next[i]) kept.push_back(blocks[i]);
  return kept;
}

std::optional<std::vector<PlannedBlock>> withTails(const PlanContext& context,
                                                   std::span<const PendingFrame> frames,
                                                   std::span<const PlannedBlock> blocks) {
  std::vector<PlannedBlock> cut;
  auto compressed = [&](std::size_t first, std::size_t end) {
    if (first == end) return;
    PlannedBlock block{first, end, {}};
    block.frequencies.add(context.items.subspan(first, end - first));
    cut.push_back(block);
  };
  auto frame = frames.begin();
  for (const PlannedBlock& block : blocks) {
    if (block.uncompressed) {
      cut.push_back(block);
      continue;
    }
    std::size_t first = block.firstItem;
    for (; frame != frames.end() && frame->endItem <= block.endItem; ++frame) {
      if (frame->endItem <= first) continue;
      const std::size_t tail = tailStart(context, *frame);
      if (tail == frame->endItem) continue;
      if (tail < first) return std::nullopt;
      compressed(first, tail);
      cut.push_back(tailBlock(context, *frame, tail));
      first = frame->endItem;
    }
    if (first == block.firstItem) {
      cut.push_back(block);
    } else {
      compressed(first, block.endItem);
    }
  }
  return cut;
}

std::size_t blockPlanMemory(std::size_t chunkBytes) {
  return (chunkBytes / kMinPieceBytes + 8) * (sizeof(PlannedBlock) + 3 * sizeof(std::uint64_t));
}

std::vector<PlannedBlock> blockPerFrame(const PlanContext& context,
                                        std::span<const PendingFrame> frames) {
  std::vector<PlannedBlock> blocks;
  for (const PendingFrame& frame : frames) {
    const std::size_t tail = tailStart(context, frame);
    if (tail != frame.firstItem) {
      blocks.push_back({frame.firstItem, tail, {}});
      blocks.back().frequencies.add(context.items.subspan(frame.firstItem, tail - frame.firstItem));
    }
    if (tail != frame.endItem) blocks.push_back(tailBlock(context, frame, tail));
  }
  return blocks;
}

}  // namespace archivers::cab::lzx
