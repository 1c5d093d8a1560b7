#include "cab/lzx_compressor.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
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

// Finds a frame's matches, on a thread of its own when there is one to spare, so that the next
// frame's matches are found while the frame before is parsed and written. Between a start and
// the wait after it, the finder's thread alone touches the trees and reads the window; nothing
// else may change the window.
class MatchAhead {
 public:
  MatchAhead(lzx::MatchFinder& finder, bool threaded) : finder_(finder), threaded_(threaded) {}
  MatchAhead(const MatchAhead&) = delete;
  MatchAhead& operator=(const MatchAhead&) = delete;
  ~MatchAhead() {
    if (!thread_.joinable()) return;
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  void start(std::uint32_t start, std::uint32_t size, lzx::FrameMatches& into) {
    if (!threaded_) return finder_.findMatches(start, size, into);
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
    {
      const std::lock_guard lock(mutex_);
      job_ = {start, size, &into};
      busy_ = true;
    }
    changed_.notify_all();
  }

  void wait() {
    if (!threaded_) return;
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !busy_; });
  }

 private:
  struct Job {
    std::uint32_t start = 0;
    std::uint32_t size = 0;
    lzx::FrameMatches* into = nullptr;
  };

  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return busy_ || stopping_; });
      if (stopping_) return;
      const Job job = job_;
      lock.unlock();
      finder_.findMatches(job.start, job.size, *job.into);
      lock.lock();
      busy_ = false;
      changed_.notify_all();
    }
  }

  lzx::MatchFinder& finder_;
  const bool threaded_;
  std::mutex mutex_;
  std::condition_variable changed_;
  Job job_;
  bool busy_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

// Holds the window, the match finder, the parser and the stream writer, and takes a folder's
// data blocks (its frames) one at a time. A frame's matches are found as it comes, the frame is
// parsed as the next one comes (or at the folder's end), and every eight parsed frames are
// written as one chunk. How many threads do it changes nothing in what is written.
class LzxCompressor : public BlockCompressor {
 public:
  LzxCompressor(int windowBits, unsigned threads)
      : windowBits_(windowBits),
        mainSymbols_(256 + 8 * lzx::positionSlots(windowBits)),
        window_(windowBits),
        matches_(windowBits, effortFromEnvironment(), window_),
        ahead_(matches_, threads > 1),
        parser_(window_, matches_),
        writer_(mainSymbols_, window_) {
    items_.reserve(kChunkBytes);
    chunkOut_.reserve(kChunkFrames * (lzx::kFrameBytes + 64));
    out_.reserve(kChunkFrames * (lzx::kFrameBytes + 64));
  }

  std::uint16_t folderType() const override {
    return folderTypeOf({CompressionMethod::Kind::kLzx, windowBits_});
  }

  void startFolder(const FolderTraits& traits) override {
    ahead_.wait();
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
    parsedFrames_ = 0;
    framesSeen_ = 0;
    items_.clear();
    repeated_ = lzx::kInitialRepeatedOffsets;
    pricedFrom_.reset();
  }

  std::span<const CodedBlock> compressDataBlock(std::span<const std::uint8_t> dataBlock) override {
    ahead_.wait();
    const std::uint32_t start = position_ + pendingBytes();
    // The window behind the frames not yet coded stays, and behind the positions before them
    // that wait to go into the match finder.
    std::uint8_t* frame = window_.append(dataBlock, lzx::kMaxNiceLength + pendingBytes());
    if (translationSize_ != 0 && start / lzx::kFrameBytes < lzx::kTranslatedFrames) {
      lzx::translateCalls(frame, dataBlock.size(), start, translationSize_);
    }
    pendingFrames_.push_back({static_cast<std::uint32_t>(dataBlock.size())});
    ahead_.start(start, static_cast<std::uint32_t>(dataBlock.size()), matchesOf(framesSeen_));
    ++framesSeen_;
    coded_.clear();
    out_.clear();
    frameEnds_.clear();
    codedSizes_.clear();
    const bool last = start + dataBlock.size() >= folderSize_;
    if (parsedFrames_ + 1 < pendingFrames_.size()) parseNext();
    if (parsedFrames_ == kChunkFrames) codeChunk(kChunkFrames);
    if (last) {
      ahead_.wait();
      parseNext();
      codeChunk(pendingFrames_.size());
    }
    // Two chunks may end in one call (the folder's last frame after a full chunk): their bytes
    // sit one after the other in out_, whose storage is settled only now.
    std::size_t begin = 0;
    for (std::size_t i = 0; i < frameEnds_.size(); ++i) {
      coded_.push_back({std::span(out_).subspan(begin, frameEnds_[i] - begin), codedSizes_[i]});
      begin = frameEnds_[i];
    }
    return coded_;
  }

 private:
  std::uint32_t pendingBytes() const {
    std::uint32_t bytes = 0;
    for (const lzx::PendingFrame& frame : pendingFrames_) bytes += frame.size;
    return bytes;
  }

  lzx::FrameMatches& matchesOf(std::uint64_t frame) { return frameMatches_[frame % 2]; }

  // Parses the first pending frame not parsed yet, whose matches are found.
  void parseNext() {
    std::uint32_t start = position_;
    for (std::size_t i = 0; i < parsedFrames_; ++i) start += pendingFrames_[i].size;
    const std::uint64_t frameNumber = framesSeen_ - (pendingFrames_.size() - parsedFrames_);
    parseFrame(pendingFrames_[parsedFrames_], start, matchesOf(frameNumber));
    ++parsedFrames_;
  }

  // Parses one frame, priced by the codes of the frame before; a folder's first frame, which has
  // none, is parsed again priced by its own. A frame that would code larger than stored, or looks
  // incompressible, is marked stored and leaves the repeated offsets as they were.
  void parseFrame(lzx::PendingFrame& frame, std::uint32_t start, const lzx::FrameMatches& found) {
    frame.firstItem = items_.size();
    frame.repeatedBefore = repeated_;
    if (matches_.looksIncompressible(start, frame.size, found)) {
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
      after = parser_.parseFrame(start, frame.size, found, prices, repeated_, items_);
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

  // Writes the first count pending frames, all parsed: again without joining frames into blocks
  // if one came out longer than a data block takes, and again with an uncompressed tail for each
  // frame that ended inside the readers' lookahead.
  void codeChunk(std::size_t count) {
    const std::span<lzx::PendingFrame> frames = std::span(pendingFrames_).first(count);
    const lzx::StreamWriter::State before = writer_.state();
    using Layout = lzx::StreamWriter::Layout;
    for (Layout layout = Layout::kPlanned;;) {
      chunkOut_.clear();
      chunkEnds_.clear();
      const lzx::StreamWriter::Written written =
          writer_.write(frames, items_, memberStarts_, position_, layout, chunkOut_, chunkEnds_);
      if (!written.tailAdded && (written.fits || layout == Layout::kOneBlockPerFrame)) break;
      if (!written.fits) {
        layout = Layout::kOneBlockPerFrame;
      } else if (layout == Layout::kPlanned) {
        layout = Layout::kPlannedWithTails;
      }
      writer_.restore(before);
    }
    for (std::size_t i = 0; i < count; ++i) {
      frameEnds_.push_back(out_.size() + chunkEnds_[i]);
      codedSizes_.push_back(frames[i].size);
      position_ += frames[i].size;
    }
    out_.insert(out_.end(), chunkOut_.begin(), chunkOut_.end());
    pendingFrames_.erase(pendingFrames_.begin(), pendingFrames_.begin() + count);
    parsedFrames_ -= count;
    items_.clear();
  }

  const int windowBits_;
  const int mainSymbols_;
  lzx::Window window_;
  lzx::MatchFinder matches_;
  lzx::FrameMatches frameMatches_[2];  // of the frame being parsed and of the one after it
  MatchAhead ahead_;
  lzx::Parser parser_;
  lzx::StreamWriter writer_;
  std::uint64_t folderSize_ = 0;
  std::vector<std::uint32_t> memberStarts_;
  std::int32_t translationSize_ = 0;
  std::uint32_t position_ = 0;  // of the first frame not yet coded, in the folder's data
  std::vector<lzx::PendingFrame> pendingFrames_;  // not yet coded, the first parsedFrames_ parsed
  std::size_t parsedFrames_ = 0;
  std::uint64_t framesSeen_ = 0;  // of the folder, for the matches' buffer
  lzx::RepeatedOffsets repeated_ = lzx::kInitialRepeatedOffsets;
  std::optional<lzx::BlockCodes> pricedFrom_;  // the codes of the frame before, none at the start
  std::vector<lzx::Item> items_;
  std::vector<std::uint8_t> chunkOut_;  // one chunk as written
  std::vector<std::size_t> chunkEnds_;  // of its frames, in chunkOut_
  std::vector<std::uint8_t> out_;       // the chunks coded in this call
  std::vector<std::size_t> frameEnds_;  // in out_
  std::vector<std::uint32_t> codedSizes_;
  std::vector<CodedBlock> coded_;
};

}  // namespace

std::unique_ptr<BlockCompressor> makeLzxCompressor(int windowBits, unsigned threads) {
  if (windowBits < kLzxMinWindowBits || windowBits > kLzxMaxWindowBits) {
    throw std::invalid_argument("LZX window out of range");
  }
  return std::make_unique<LzxCompressor>(windowBits, threads);
}

std::size_t lzxCompressorMemory(int windowBits) {
  return lzx::Window::memory(windowBits) +
         lzx::MatchFinder::memory(windowBits, effortFromEnvironment()) +
         2 * lzx::FrameMatches::memory() + lzx::Parser::memory() +
         kChunkBytes * (sizeof(lzx::Item) + 2) + lzx::kFrameBytes +
         lzx::blockPlanMemory(kChunkBytes);
}

}  // namespace archivers::cab
