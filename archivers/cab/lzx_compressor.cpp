#include "cab/lzx_compressor.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <vector>

#include "cab/lzx_block_codes.h"
#include "cab/lzx_block_plan.h"
#include "cab/lzx_call_translation.h"
#include "cab/lzx_format.h"
#include "cab/lzx_match_finder.h"
#include "cab/lzx_parser.h"
#include "cab/lzx_stream_writer.h"
#include "cab/lzx_window.h"

namespace archivers::cab {
namespace {

// Frames held back and coded together, so that blocks can span them.
constexpr std::size_t kChunkFrames = 8;
constexpr std::size_t kChunkBytes = kChunkFrames * lzx::kFrameBytes;
// Passes over a frame: the first priced by the codes of the frame before, the next ones by the
// codes of the pass before. A folder's first frame has no frame before it and gets one more.
constexpr int kParsePasses = 1;

// PARVO_LZX_EFFORT (1 to 3) chooses how hard the match finder looks, for measuring; the
// default is 2.
lzx::SearchEffort effortFromEnvironment() {
  const char* level = std::getenv("PARVO_LZX_EFFORT");
  return lzx::searchEffort(level != nullptr ? std::atoi(level) : 2);
}

// Holds the window, the match finder, the parser and the stream writer, and takes a folder's
// data blocks (its frames) one at a time: each is matched and parsed when its chunk is coded.
class LzxCompressor : public BlockCompressor {
 public:
  explicit LzxCompressor(int windowBits)
      : windowBits_(windowBits),
        mainSymbols_(256 + 8 * lzx::positionSlots(windowBits)),
        window_(windowBits),
        matches_(windowBits, effortFromEnvironment(), window_),
        parser_(window_, matches_),
        writer_(mainSymbols_, window_) {
    items_.reserve(kChunkBytes);
    out_.reserve(kChunkFrames * (lzx::kFrameBytes + 64));
  }

  std::uint16_t folderType() const override {
    return folderTypeOf({CompressionMethod::Kind::kLzx, windowBits_});
  }

  void startFolder(const FolderTraits& traits) override {
    translationSize_ = 0;
    if (traits.looksLikeX86Code) {
      translationSize_ =
          static_cast<std::int32_t>(std::clamp<std::uint64_t>(traits.size, 1, 1u << 30));
    }
    folderSize_ = traits.size;
    memberStarts_ = traits.memberStarts;
    position_ = 0;
    window_.reset();
    matches_.reset();
    writer_.startFolder(translationSize_);
    pendingFrames_.clear();
    repeated_ = lzx::kInitialRepeatedOffsets;
    pricedFrom_.reset();
  }

  std::span<const CodedBlock> compressDataBlock(std::span<const std::uint8_t> dataBlock) override {
    const std::uint32_t start = position_ + pendingBytes();
    // The window behind the frames not yet coded stays, and behind the positions before them
    // that wait to go into the match finder.
    std::uint8_t* frame = window_.append(dataBlock, lzx::kMaxNiceLength + pendingBytes());
    if (translationSize_ != 0 && start / lzx::kFrameBytes < lzx::kTranslatedFrames) {
      lzx::translateCalls(frame, dataBlock.size(), start, translationSize_);
    }
    pendingFrames_.push_back({static_cast<std::uint32_t>(dataBlock.size())});
    coded_.clear();
    if (pendingFrames_.size() == kChunkFrames || start + dataBlock.size() >= folderSize_) {
      codeChunk();
    }
    return coded_;
  }

 private:
  std::uint32_t pendingBytes() const {
    std::uint32_t bytes = 0;
    for (const lzx::PendingFrame& frame : pendingFrames_) bytes += frame.size;
    return bytes;
  }

  // Parses one frame, priced by the codes of the frame before; a folder's first frame, which has
  // none, is parsed again priced by its own. A frame that would code larger than stored, or looks
  // incompressible, is marked stored and leaves the repeated offsets as they were.
  void parseFrame(lzx::PendingFrame& frame, std::uint32_t start) {
    matches_.findMatches(start, frame.size);
    frame.firstItem = items_.size();
    frame.repeatedBefore = repeated_;
    if (matches_.looksIncompressible(start, frame.size)) {
      frame.stored = true;
      frame.endItem = items_.size();
      return;
    }
    lzx::Prices prices;
    if (pricedFrom_) {
      prices.set(*pricedFrom_, mainSymbols_);
    } else {
      prices.setDefaults(mainSymbols_);
    }
    lzx::RepeatedOffsets after{};
    const int passes = pricedFrom_ ? kParsePasses : kParsePasses + 1;
    for (int pass = 0; pass < passes; ++pass) {
      items_.resize(frame.firstItem);
      after = parser_.parseFrame(start, frame.size, prices, repeated_, items_);
      lzx::Frequencies frequencies;
      frequencies.add(std::span(items_).subspan(frame.firstItem));
      pricedFrom_ = lzx::codesFor(frequencies, mainSymbols_, writer_.previousTrees());
      prices.set(*pricedFrom_, mainSymbols_);
      if (pass + 1 == passes) {
        frame.stored = (pricedFrom_->bits + 7) / 8 >= writer_.storedBytes(frame.size);
      }
    }
    if (frame.stored) {
      items_.resize(frame.firstItem);
    } else {
      repeated_ = after;
    }
    frame.endItem = items_.size();
  }

  // Parses the frames held back, then writes them: again without joining frames into blocks if
  // one came out longer than a data block takes, and again with an uncompressed tail for each
  // frame that ended inside the readers' lookahead.
  void codeChunk() {
    items_.clear();
    std::uint32_t start = position_;
    for (lzx::PendingFrame& frame : pendingFrames_) {
      parseFrame(frame, start);
      start += frame.size;
    }
    const lzx::StreamWriter::State before = writer_.state();
    using Layout = lzx::StreamWriter::Layout;
    for (Layout layout = Layout::kPlanned;;) {
      out_.clear();
      frameEnds_.clear();
      const lzx::StreamWriter::Written written =
          writer_.write(pendingFrames_, items_, memberStarts_, position_, layout, out_, frameEnds_);
      if (!written.tailAdded && (written.fits || layout == Layout::kOneBlockPerFrame)) break;
      if (!written.fits) {
        layout = Layout::kOneBlockPerFrame;
      } else if (layout == Layout::kPlanned) {
        layout = Layout::kPlannedWithTails;
      }
      writer_.restore(before);
    }
    std::size_t begin = 0;
    for (std::size_t i = 0; i < pendingFrames_.size(); ++i) {
      coded_.push_back(
          {std::span(out_).subspan(begin, frameEnds_[i] - begin), pendingFrames_[i].size});
      begin = frameEnds_[i];
    }
    position_ += pendingBytes();
    pendingFrames_.clear();
  }

  const int windowBits_;
  const int mainSymbols_;
  lzx::Window window_;
  lzx::MatchFinder matches_;
  lzx::Parser parser_;
  lzx::StreamWriter writer_;
  std::uint64_t folderSize_ = 0;
  std::vector<std::uint32_t> memberStarts_;
  std::int32_t translationSize_ = 0;
  std::uint32_t position_ = 0;  // of the first frame not yet coded, in the folder's data
  std::vector<lzx::PendingFrame> pendingFrames_;
  lzx::RepeatedOffsets repeated_ = lzx::kInitialRepeatedOffsets;
  std::optional<lzx::BlockCodes> pricedFrom_;  // the codes of the frame before, none at the start
  std::vector<lzx::Item> items_;
  std::vector<std::uint8_t> out_;
  std::vector<std::size_t> frameEnds_;  // in out_
  std::vector<CodedBlock> coded_;
};

}  // namespace

std::unique_ptr<BlockCompressor> makeLzxCompressor(int windowBits) {
  if (windowBits < kLzxMinWindowBits || windowBits > kLzxMaxWindowBits) {
    throw std::invalid_argument("LZX window out of range");
  }
  return std::make_unique<LzxCompressor>(windowBits);
}

std::size_t lzxCompressorMemory(int windowBits) {
  return lzx::Window::memory(windowBits) +
         lzx::MatchFinder::memory(windowBits, effortFromEnvironment()) + lzx::Parser::memory() +
         kChunkBytes * (sizeof(lzx::Item) + 1) + lzx::blockPlanMemory(kChunkBytes);
}

}  // namespace archivers::cab
