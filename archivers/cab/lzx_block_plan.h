#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "cab/lzx_block_codes.h"
#include "cab/lzx_format.h"

namespace archivers::cab::lzx {

// A frame waiting to be coded: its size, whether it is stored, and its items.
struct PendingFrame {
  std::uint32_t size;
  bool stored = false;
  std::size_t firstItem = 0;
  std::size_t endItem = 0;
  RepeatedOffsets repeatedBefore{};
  // Its last items go in an uncompressed block: coded, the readers' lookahead passed its end.
  bool uncompressedTail = false;
};

// A run of items in one LZX block. A block within one frame may be uncompressed instead.
struct PlannedBlock {
  std::size_t firstItem;
  std::size_t endItem;
  Frequencies frequencies;
  std::uint32_t bytes = 0;
  bool withinFrame = true;
  bool endsFrame = false;
  bool uncompressed = false;
  bool tail = false;  // a frame's uncompressed tail: joins no other block
};

// What block planning needs to know of the stream around the frames.
struct PlanContext {
  std::span<const Item> items;
  std::span<const std::uint32_t> memberStarts;  // where each file begins in the folder's data
  int mainSymbols;
  const PreviousTrees& previous;
};

// Cuts a run of compressed frames, the first at stream position start, into blocks. Pieces end
// where a file begins, at a frame's end and every 4 KiB; then neighbours are joined, the pair
// that saves most first, while one set of trees for both costs less than two.
std::vector<PlannedBlock> planBlocks(const PlanContext& context,
                                     std::span<const PendingFrame> frames, std::uint32_t start);

// The plan with an uncompressed tail cut from the block that ends each frame now marked for one;
// none when a tail would reach into the block before.
std::optional<std::vector<PlannedBlock>> withTails(const PlanContext& context,
                                                   std::span<const PendingFrame> frames,
                                                   std::span<const PlannedBlock> blocks);

// What planning a chunk of chunkBytes holds at most.
std::size_t blockPlanMemory(std::size_t chunkBytes);

// One block a frame, for when joined frames code too long for a data block.
std::vector<PlannedBlock> blockPerFrame(const PlanContext& context,
                                        std::span<const PendingFrame> frames);

}  // namespace archivers::cab::lzx
