#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "cab/lzx_bit_writer.h"
#include "cab/lzx_block_codes.h"
#include "cab/lzx_block_plan.h"
#include "cab/lzx_window.h"

namespace archivers::cab::lzx {

// The most a frame may code to: readers take 32 KiB and a little more in one data block.
inline constexpr std::size_t kMaxCodedFrame = kFrameBytes + 2048;

// Writes a folder's LZX stream, a run of parsed frames at a time: the stream header, the blocks
// with their trees as changes from the block before, the items, and each frame realigned to a
// 16-bit word at its end.
class StreamWriter {
 public:
  StreamWriter(int mainSymbols, const Window& window)
      : mainSymbols_(mainSymbols), window_(window) {}

  void startFolder(std::int32_t translationSize);

  // What a run of frames changes: kept to write them again.
  struct State {
    PreviousTrees previous;
    bool headerWritten;
  };
  State state() const { return {previous_, headerWritten_}; }
  void restore(const State& state) {
    previous_ = state.previous;
    headerWritten_ = state.headerWritten;
  }
  const PreviousTrees& previousTrees() const { return previous_; }

  // A stored frame's size: the stream header, the block header, 1 to 16 bits of padding, R0-R2,
  // the bytes.
  std::size_t storedBytes(std::uint32_t size) const {
    return (headerWritten_ ? 0 : 4) + 6 + 12 + size + (size & 1);
  }

  struct Written {
    bool fits = true;        // no frame came out longer than kMaxCodedFrame
    bool tailAdded = false;  // a frame ended inside the readers' lookahead: now marked
  };
  enum class Layout {
    kPlanned,           // runs of compressed frames in planned blocks
    kPlannedWithTails,  // the plans of the last write, with the tails now marked cut out
    kOneBlockPerFrame,
  };
  // Appends the frames, the first at stream position start, to out and each frame's end to
  // frameEnds: stored ones as they are, runs of compressed ones in blocks as layout says.
  Written write(std::span<PendingFrame> frames, std::span<const Item> items,
                std::span<const std::uint32_t> memberStarts, std::uint32_t start, Layout layout,
                std::vector<std::uint8_t>& out, std::vector<std::size_t>& frameEnds);

 private:
  void writeStreamHeader(BitWriter& bits);
  void writeBlockHeader(BitWriter& bits, const PlannedBlock& block, std::span<const Item> items);
  void writeItem(BitWriter& bits, const Item& item);
  void writeUncompressed(BitWriter& bits, std::vector<std::uint8_t>& out, const std::uint8_t* data,
                         std::uint32_t size, const RepeatedOffsets& repeated);

  const int mainSymbols_;
  const Window& window_;
  std::int32_t translationSize_ = 0;
  bool headerWritten_ = false;
  PreviousTrees previous_;
  std::vector<std::vector<PlannedBlock>> plans_;  // of the last write, a run of frames each
  BlockCodes codes_;                              // of the block being written
  int mainLookahead_ = 0;
  int lengthLookahead_ = 0;
  int alignedLookahead_ = 0;
};

}  // namespace archivers::cab::lzx
