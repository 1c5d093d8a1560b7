#include "cab/lzx_stream_writer.h"

#include "cab/lzx_tree_section.h"
#include "common/byte_order.h"

namespace archivers::cab::lzx {

void StreamWriter::startFolder(std::int32_t translationSize) {
  translationSize_ = translationSize;
  headerWritten_ = false;
  previous_ = {};
}

StreamWriter::Written StreamWriter::write(std::span<PendingFrame> frames,
                                          std::span<const Item> items,
                                          std::span<const std::uint32_t> memberStarts,
                                          std::uint32_t start, Layout layout,
                                          std::vector<std::uint8_t>& out,
                                          std::vector<std::size_t>& frameEnds) {
  Written written;
  std::uint32_t position = start;
  std::size_t runs = 0;
  for (std::size_t first = 0; first < frames.size();) {
    if (frames[first].stored) {
      BitWriter bits(out);
      writeUncompressed(bits, out, window_.at(position), frames[first].size,
                        frames[first].repeatedBefore);
      frameEnds.push_back(out.size());
      position += frames[first++].size;
      continue;
    }
    std::size_t end = first + 1;
    while (end < frames.size() && !frames[end].stored) ++end;
    const PlanContext context{items, memberStarts, mainSymbols_, previous_};
    const std::span<const PendingFrame> run = frames.subspan(first, end - first);
    if (plans_.size() <= runs) plans_.resize(runs + 1);
    std::vector<PlannedBlock>& blocks = plans_[runs++];
    std::optional<std::vector<PlannedBlock>> cut;
    if (layout == Layout::kPlannedWithTails) cut = withTails(context, run, blocks);
    if (cut) {
      blocks = std::move(*cut);
    } else if (layout == Layout::kOneBlockPerFrame) {
      blocks = blockPerFrame(context, run);
    } else {
      blocks = planBlocks(context, run, position);
    }
    BitWriter bits(out);
    RepeatedOffsets repeated = frames[first].repeatedBefore;
    std::size_t frame = first;
    std::size_t frameStart = out.size();
    auto endFrame = [&] {
      bits.align();
      written.fits = written.fits && out.size() - frameStart <= kMaxCodedFrame;
      if (bits.lookaheadEnd() > bits.position() && !frames[frame].uncompressedTail) {
        frames[frame].uncompressedTail = true;
        written.tailAdded = true;
      }
      frameStart = out.size();
      frameEnds.push_back(frameStart);
      ++frame;
    };
    for (const PlannedBlock& block : blocks) {
      if (block.uncompressed) {
        for (std::size_t i = block.firstItem; i < block.endItem; ++i) {
          repeated = afterItem(repeated, items[i]);
        }
        writeUncompressed(bits, out, window_.at(position), block.bytes, repeated);
        position += block.bytes;
      } else {
        writeBlockHeader(bits, block, items);
        for (std::size_t i = block.firstItem; i < block.endItem; ++i) {
          writeItem(bits, items[i]);
          repeated = afterItem(repeated, items[i]);
          position += itemBytes(items[i]);
          if (i + 1 != block.endItem && i + 1 == frames[frame].endItem) endFrame();
        }
      }
      if (block.endItem == frames[frame].endItem) endFrame();
    }
    first = end;
  }
  return written;
}

void StreamWriter::writeStreamHeader(BitWriter& bits) {
  if (headerWritten_) return;
  bits.put(translationSize_ != 0 ? 1 : 0, 1);
  if (translationSize_ != 0) bits.put(static_cast<std::uint32_t>(translationSize_), 32);
  headerWritten_ = true;
}

// The block's header and trees; its codes become the ones items are written with.
void StreamWriter::writeBlockHeader(BitWriter& bits, const PlannedBlock& block,
                                    std::span<const Item> items) {
  codes_ = codesFor(block.frequencies, mainSymbols_, previous_);
  const auto main = std::span(codes_.main.lengths).first(mainSymbols_);
  mainLookahead_ = lookaheadOf(main);
  lengthLookahead_ = lookaheadOf(codes_.length.lengths);
  alignedLookahead_ = lookaheadOf(codes_.aligned.lengths);
  std::uint32_t size = 0;
  for (std::size_t i = block.firstItem; i < block.endItem; ++i) size += itemBytes(items[i]);
  writeStreamHeader(bits);
  bits.put(codes_.alignedBlock ? kBlockAligned : kBlockVerbatim, 3);
  bits.put(size, 24);
  if (codes_.alignedBlock) {
    for (std::uint8_t length : codes_.aligned.lengths) bits.put(length, 3);
  }
  const auto previousMain = std::span(previous_.main).first(mainSymbols_);
  writeTreeSection(bits, main.first(256), previousMain.first(256));
  writeTreeSection(bits, main.subspan(256), previousMain.subspan(256));
  writeTreeSection(bits, codes_.length.lengths, previous_.length);
  previous_.main = codes_.main.lengths;
  previous_.length = codes_.length.lengths;
}

void StreamWriter::writeItem(BitWriter& bits, const Item& item) {
  bits.putCode(codes_.main.codes[item.mainSymbol], codes_.main.lengths[item.mainSymbol],
               mainLookahead_);
  if (item.lengthSymbol != kNoLength) {
    bits.putCode(codes_.length.codes[item.lengthSymbol], codes_.length.lengths[item.lengthSymbol],
                 lengthLookahead_);
  }
  if (codes_.alignedBlock && item.offsetBitCount >= 3) {
    bits.put(item.offsetBits >> 3, item.offsetBitCount - 3);
    const std::uint32_t low = item.offsetBits & 7;
    bits.putCode(codes_.aligned.codes[low], codes_.aligned.lengths[low], alignedLookahead_);
  } else if (item.offsetBitCount > 0) {
    bits.put(item.offsetBits, item.offsetBitCount);
  }
}

void StreamWriter::writeUncompressed(BitWriter& bits, std::vector<std::uint8_t>& out,
                                     const std::uint8_t* data, std::uint32_t size,
                                     const RepeatedOffsets& repeated) {
  writeStreamHeader(bits);
  bits.put(kBlockUncompressed, 3);
  bits.put(size, 24);
  if (bits.aligned()) bits.put(0, 16);
  bits.align();
  for (std::uint32_t offset : repeated) {
    out.resize(out.size() + 4);
    storeLe32(out.data() + out.size() - 4, offset);
  }
  out.insert(out.end(), data, data + size);
  if (size & 1) out.push_back(0);
}

}  // namespace archivers::cab::lzx
