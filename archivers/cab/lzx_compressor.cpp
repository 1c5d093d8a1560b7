#include "cab/lzx_compressor.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "common/byte_order.h"

namespace archivers::cab {
namespace {

constexpr int kMinMatch = 2;
constexpr int kMaxMatch = 257;
constexpr int kPrimaryLengths = 7;  // a match length header of 7 means "see the length tree"
constexpr int kLengthSymbols = 249;
constexpr int kAlignedSymbols = 8;
constexpr int kPretreeSymbols = 20;
constexpr int kMaxMainSymbols = 256 + 8 * 50;
constexpr int kMaxCodeBits = 16;
constexpr int kFrameBytes = 32768;
constexpr std::uint32_t kTranslatedFrames = 32768;  // readers translate calls in the first 1 GiB

constexpr int kBlockVerbatim = 1;
constexpr int kBlockAligned = 2;
constexpr int kBlockUncompressed = 3;

constexpr int kHashBits = 18;   // of four bytes: the roots of the binary trees
constexpr int kHash3Bits = 15;  // of three bytes: the last position with them
// Matches at least this long end the search at a position, and are taken without weighing the
// paths through the positions they cover.
constexpr std::uint32_t kNiceLength = 32;
constexpr std::uint32_t kTreeDepth = 16;
// The binary trees hold the last 2^kTreeBits positions at most; matches from further back in the
// window come from the three-byte table and the repeated offsets. Halving the trees' reach costs
// a fraction of a percent and saves a tenth of the time and half the trees' memory.
constexpr int kTreeBits = 20;
// After this many positions in a row without a match of 4 bytes the data looks incompressible:
// positions are passed over unsearched, one more for every further run of this length.
constexpr std::uint32_t kMissesBeforeSkipping = 32;
// Passes over a frame: the first priced by the codes of the frame before, the next ones by the
// codes of the pass before. A folder's first frame has no frame before it and gets one more.
constexpr int kParsePasses = 1;
// Blocks are cut from pieces this long at most, and shorter where a file begins, but no shorter
// than kMinPieceBytes: a chunk holds at most 256 pieces, however small the files.
constexpr std::uint32_t kPieceBytes = 4096;
constexpr std::uint32_t kMinPieceBytes = 1024;
// The most a frame may code to: readers take 32 KiB and a little more in one data block.
constexpr std::size_t kMaxCodedFrame = kFrameBytes + 2048;
// Bytes kept beyond the window so the window slides rarely.
constexpr std::size_t kSlideSlack = 512 * 1024;
// Some readers decode a prefix code by looking this many bits ahead (fewer when its longest code
// is shorter), and fail when the data block ends sooner, though the code itself is complete.
constexpr int kReaderLookahead = 10;

int positionSlots(int windowBits) {
  static constexpr int kSlots[] = {30, 32, 34, 36, 38, 42, 50};
  return kSlots[windowBits - kLzxMinWindowBits];
}

// Offsets are coded as formatted offsets (the offset + 2; 0 to 2 name the repeated offsets) in
// position slots: slot s covers extraBits(s) bits from slotBase(s).
int extraBits(int slot) {
  return slot < 4 ? 0 : std::min(slot / 2 - 1, 17);
}

std::uint32_t slotBase(int slot) {
  if (slot < 4) return static_cast<std::uint32_t>(slot);
  if (slot < 36) return (2u | (slot & 1)) << (slot / 2 - 1);
  return (1u << 18) + (static_cast<std::uint32_t>(slot - 36) << 17);
}

int slotOf(std::uint32_t formatted) {
  if (formatted < 4) return static_cast<int>(formatted);
  if (formatted >= (1u << 18)) return 36 + static_cast<int>((formatted - (1u << 18)) >> 17);
  const int high = 31 - __builtin_clz(formatted);
  return 2 * high + static_cast<int>((formatted >> (high - 1)) & 1);
}

// 16-bit little-endian words, each filled from its most significant bit.
class BitWriter {
 public:
  explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}
  void put(std::uint32_t value, int bits) {
    if (bits > 16) {
      put(value >> 16, bits - 16);
      bits = 16;
      value &= 0xFFFF;
    }
    buffer_ = (buffer_ << bits) | value;
    count_ += bits;
    if (count_ >= 16) {
      count_ -= 16;
      const auto word = static_cast<std::uint16_t>(buffer_ >> count_);
      out_.push_back(static_cast<std::uint8_t>(word));
      out_.push_back(static_cast<std::uint8_t>(word >> 8));
      buffer_ &= (1u << count_) - 1;
    }
  }
  // A prefix code's code, which readers may look ahead lookahead bits to decode.
  void putCode(std::uint32_t code, int bits, int lookahead) {
    lookaheadEnd_ = std::max(lookaheadEnd_, position() + static_cast<std::uint64_t>(lookahead));
    put(code, bits);
  }
  bool aligned() const { return count_ == 0; }
  void align() {
    if (count_ > 0) put(0, 16 - count_);
  }
  std::uint64_t position() const { return out_.size() * 8 + static_cast<std::uint64_t>(count_); }
  // Where the readers' lookahead of the codes written so far ends.
  std::uint64_t lookaheadEnd() const { return lookaheadEnd_; }

 private:
  std::vector<std::uint8_t>& out_;
  std::uint32_t buffer_ = 0;
  int count_ = 0;
  std::uint64_t lookaheadEnd_ = 0;
};

int lookaheadOf(std::span<const std::uint8_t> lengths) {
  return std::min<int>(kReaderLookahead, *std::max_element(lengths.begin(), lengths.end()));
}

// Code lengths of at most maxBits for the frequencies; at least two symbols get a code, since
// readers refuse an incomplete code. Over-long codes are avoided by flattening the frequencies.
void buildLengths(std::span<const std::uint32_t> frequencies, int maxBits,
                  std::span<std::uint8_t> lengths) {
  const std::size_t count = frequencies.size();
  std::array<std::uint32_t, kMaxMainSymbols> weights;
  std::copy(frequencies.begin(), frequencies.end(), weights.begin());
  std::size_t used = static_cast<std::size_t>(std::count_if(
      weights.begin(), weights.begin() + count, [](std::uint32_t w) { return w > 0; }));
  for (std::size_t i = 0; used < 2 && i < count; ++i) {
    if (weights[i] == 0) {
      weights[i] = 1;
      ++used;
    }
  }
  struct Node {
    std::uint64_t weight;
    int left, right;  // children, or -1 and the symbol in right
  };
  std::array<Node, 2 * kMaxMainSymbols> nodes;
  std::array<std::uint8_t, 2 * kMaxMainSymbols> depth;
  std::array<std::uint64_t, kMaxMainSymbols> leafOrder;  // weight, then symbol
  for (;;) {
    std::size_t size = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (weights[i] > 0) leafOrder[size++] = std::uint64_t{weights[i]} << 16 | i;
    }
    std::sort(leafOrder.begin(), leafOrder.begin() + static_cast<std::ptrdiff_t>(size));
    for (std::size_t i = 0; i < size; ++i) {
      nodes[i] = {leafOrder[i] >> 16, -1, static_cast<int>(leafOrder[i] & 0xFFFF)};
    }
    // Two queues: the sorted leaves and the merged nodes, which come out in weight order.
    const std::size_t leaves = size;
    std::size_t nextLeaf = 0;
    std::size_t nextMerged = leaves;
    auto take = [&]() {
      if (nextLeaf < leaves &&
          (nextMerged == size || nodes[nextLeaf].weight <= nodes[nextMerged].weight)) {
        return static_cast<int>(nextLeaf++);
      }
      return static_cast<int>(nextMerged++);
    };
    for (std::size_t left = leaves; left > 1; --left) {
      const int a = take();
      const int b = take();
      nodes[size++] = {nodes[a].weight + nodes[b].weight, a, b};
    }
    if (size == 0) return;  // no symbols at all: count was 0
    depth[size - 1] = 0;
    int longest = 0;
    for (std::size_t i = size; i-- > leaves;) {
      depth[nodes[i].left] = static_cast<std::uint8_t>(depth[i] + 1);
      depth[nodes[i].right] = static_cast<std::uint8_t>(depth[i] + 1);
    }
    std::fill(lengths.begin(), lengths.end(), 0);
    for (std::size_t i = 0; i < leaves; ++i) {
      lengths[nodes[i].right] = depth[i];
      longest = std::max<int>(longest, depth[i]);
    }
    if (longest <= maxBits) return;
    for (std::size_t i = 0; i < count; ++i) {
      if (weights[i] > 0) weights[i] = (weights[i] >> 1) | 1;
    }
  }
}

// Canonical codes: shorter codes first, symbols in order within a length.
void buildCodes(std::span<const std::uint8_t> lengths, std::span<std::uint16_t> codes) {
  std::array<std::uint32_t, kMaxCodeBits + 2> counts{};
  for (std::uint8_t length : lengths) ++counts[length];
  counts[0] = 0;
  std::array<std::uint32_t, kMaxCodeBits + 2> next{};
  std::uint32_t code = 0;
  for (int bits = 1; bits <= kMaxCodeBits; ++bits) {
    code = (code + counts[bits - 1]) << 1;
    next[bits] = code;
  }
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    codes[i] = lengths[i] == 0 ? 0 : static_cast<std::uint16_t>(next[lengths[i]]++);
  }
}

// One coded symbol: a literal, or a match's main symbol with its length and offset.
struct Item {
  std::uint16_t mainSymbol;
  std::uint8_t lengthSymbol;    // kNoLength unless the length header is 7
  std::uint8_t offsetBitCount;  // extra bits of the offset
  std::uint32_t offsetBits;     // the formatted offset minus its slot's base
};
constexpr std::uint8_t kNoLength = 0xFF;
static_assert(kLengthSymbols < kNoLength);

// The pretree codes of one tree section: each new length as a change from the previous block's,
// runs of zeros and of equal lengths shortened.
struct PretreeCode {
  std::uint8_t symbol;
  std::uint8_t extraBitCount;
  std::uint8_t extra;
  std::uint8_t repeatedSymbol;  // after code 19, the change that applies to the whole run
};

struct PretreeCodes {
  std::array<PretreeCode, kMaxMainSymbols> codes;
  std::size_t size = 0;
  void push_back(const PretreeCode& code) { codes[size++] = code; }
  auto begin() const { return codes.begin(); }
  auto end() const { return codes.begin() + static_cast<std::ptrdiff_t>(size); }
};

PretreeCodes pretreeCodes(std::span<const std::uint8_t> lengths,
                          std::span<const std::uint8_t> previous) {
  PretreeCodes codes;
  auto change = [&](std::size_t i) {
    return static_cast<std::uint8_t>((previous[i] + 17 - lengths[i]) % 17);
  };
  for (std::size_t i = 0; i < lengths.size();) {
    std::size_t run = 1;
    while (i + run < lengths.size() && lengths[i + run] == lengths[i]) ++run;
    if (lengths[i] == 0 && run >= 20) {
      run = std::min<std::size_t>(run, 51);
      codes.push_back({18, 5, static_cast<std::uint8_t>(run - 20), 0});
    } else if (lengths[i] == 0 && run >= 4) {
      run = std::min<std::size_t>(run, 19);
      codes.push_back({17, 4, static_cast<std::uint8_t>(run - 4), 0});
    } else if (run >= 4) {
      run = std::min<std::size_t>(run, 5);
      codes.push_back({19, 1, static_cast<std::uint8_t>(run - 4), change(i)});
    } else {
      run = 1;
      codes.push_back({change(i), 0, 0, 0});
    }
    i += run;
  }
  return codes;
}

// Writes one tree section when bits is given; returns its size in bits either way.
std::uint64_t treeSection(BitWriter* bits, std::span<const std::uint8_t> lengths,
                          std::span<const std::uint8_t> previous) {
  const PretreeCodes codes = pretreeCodes(lengths, previous);
  std::array<std::uint32_t, kPretreeSymbols> frequencies{};
  for (const PretreeCode& code : codes) {
    ++frequencies[code.symbol];
    if (code.symbol == 19) ++frequencies[code.repeatedSymbol];
  }
  std::array<std::uint8_t, kPretreeSymbols> pretreeLengths{};
  std::array<std::uint16_t, kPretreeSymbols> pretree{};
  buildLengths(frequencies, 15, pretreeLengths);
  std::uint64_t size = 4 * kPretreeSymbols;
  for (const PretreeCode& code : codes) {
    size += pretreeLengths[code.symbol] + code.extraBitCount;
    if (code.symbol == 19) size += pretreeLengths[code.repeatedSymbol];
  }
  if (bits == nullptr) return size;
  buildCodes(pretreeLengths, pretree);
  const int lookahead = lookaheadOf(pretreeLengths);
  for (std::uint8_t length : pretreeLengths) bits->put(length, 4);
  for (const PretreeCode& code : codes) {
    bits->putCode(pretree[code.symbol], pretreeLengths[code.symbol], lookahead);
    if (code.extraBitCount > 0) bits->put(code.extra, code.extraBitCount);
    if (code.symbol == 19) {
      bits->putCode(pretree[code.repeatedSymbol], pretreeLengths[code.repeatedSymbol], lookahead);
    }
  }
  return size;
}

// E8 call translation: the displacement after each E8 byte becomes the absolute target, so calls
// to one function read alike wherever they are. Readers turn it back within the same bounds.
void translateCalls(std::uint8_t* frame, std::size_t size, std::uint32_t framePosition,
                    std::int32_t translationSize) {
  if (size <= 10) return;
  const std::size_t end = size - 10;
  for (std::size_t i = 0; i < end;) {
    if (frame[i++] != 0xE8) continue;
    const auto position = static_cast<std::int32_t>(framePosition + i - 1);
    const auto displacement = static_cast<std::int32_t>(loadLe32(frame + i));
    std::int32_t target = displacement;
    if (displacement >= -position && displacement < translationSize - position) {
      target = displacement + position;
    } else if (displacement >= translationSize - position && displacement < translationSize) {
      target = displacement - translationSize;
    }
    storeLe32(frame + i, static_cast<std::uint32_t>(target));
    i += 4;
  }
}

// Symbol counts of a run of items, and the extra offset bits they carry.
struct Frequencies {
  std::array<std::uint32_t, kMaxMainSymbols> main{};
  std::array<std::uint32_t, kLengthSymbols> length{};
  std::array<std::uint32_t, kAlignedSymbols> aligned{};
  std::uint64_t offsetBits = 0;
  std::uint64_t alignedOffsetBits =
      0;  // the same, less three for every offset with an aligned part

  void add(std::span<const Item> items) {
    for (const Item& item : items) {
      ++main[item.mainSymbol];
      if (item.lengthSymbol != kNoLength) ++length[item.lengthSymbol];
      offsetBits += item.offsetBitCount;
      if (item.offsetBitCount >= 3) {
        ++aligned[item.offsetBits & 7];
        alignedOffsetBits += item.offsetBitCount - 3;
      } else {
        alignedOffsetBits += item.offsetBitCount;
      }
    }
  }
  void add(const Frequencies& other) {
    for (std::size_t i = 0; i < main.size(); ++i) main[i] += other.main[i];
    for (std::size_t i = 0; i < length.size(); ++i) length[i] += other.length[i];
    for (std::size_t i = 0; i < aligned.size(); ++i) aligned[i] += other.aligned[i];
    offsetBits += other.offsetBits;
    alignedOffsetBits += other.alignedOffsetBits;
  }
};

// The codes of one compressed block and its size in bits, trees included.
struct BlockCodes {
  std::array<std::uint8_t, kMaxMainSymbols> main{};
  std::array<std::uint8_t, kLengthSymbols> length{};
  std::array<std::uint8_t, kAlignedSymbols> aligned{};
  bool alignedBlock = false;
  std::uint64_t bits = 0;
};

// Bit prices of the symbols, from the codes of coded data like what comes next.
struct Prices {
  std::array<std::uint32_t, kMaxMainSymbols> main{};
  std::array<std::uint32_t, kMaxMatch + 1> lengthPart{};  // the length tree's part of a length
  // In an aligned block the low three bits of an offset with three extra bits or more cost their
  // aligned code, not three bits; three bits where the block is verbatim.
  std::array<std::uint32_t, kAlignedSymbols> alignedPart{};

  void set(const BlockCodes& codes, int mainSymbols) {
    // Symbols the data did not use are dear but not out of reach.
    for (int i = 0; i < mainSymbols; ++i) main[i] = codes.main[i] != 0 ? codes.main[i] : 13;
    for (std::uint32_t n = kMinMatch + kPrimaryLengths; n <= kMaxMatch; ++n) {
      const std::uint8_t bits = codes.length[n - kMinMatch - kPrimaryLengths];
      lengthPart[n] = bits != 0 ? bits : 11;
    }
    for (int i = 0; i < kAlignedSymbols; ++i) {
      alignedPart[i] = !codes.alignedBlock ? 3 : codes.aligned[i] != 0 ? codes.aligned[i] : 7;
    }
  }
  void setDefaults(int mainSymbols) {
    for (int i = 0; i < mainSymbols; ++i) main[i] = i < 256 ? 8 : 10;
    for (std::uint32_t n = kMinMatch + kPrimaryLengths; n <= kMaxMatch; ++n) lengthPart[n] = 8;
    alignedPart.fill(3);
  }
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

using RepeatedOffsets = std::array<std::uint32_t, 3>;

RepeatedOffsets afterMatch(RepeatedOffsets repeated, std::uint32_t formatted) {
  if (formatted < 3) {
    std::swap(repeated[0], repeated[formatted]);
    return repeated;
  }
  return {formatted - 2, repeated[0], repeated[1]};
}

// A match the finder reported: distance << 8 | length - 2.
using FoundMatch = std::uint32_t;

class LzxCompressor : public BlockCompressor {
 public:
  explicit LzxCompressor(int windowBits)
      : windowBits_(windowBits),
        windowSize_(1u << windowBits),
        // The format allows window - 3, but 7-Zip decodes that offset wrongly.
        maxDistance_(windowSize_ - 4),
        mainSymbols_(256 + 8 * positionSlots(windowBits)),
        treeSpan_(std::min(windowSize_, 1u << kTreeBits)),
        buffer_(windowSize_ + std::max<std::size_t>(kSlideSlack, windowSize_ / 4)),
        head_(1u << kHashBits),
        head3_(1u << kHash3Bits),
        tree_(2 * std::size_t{treeSpan_}),
        found_(kFrameBytes * kMatchesPerPosition),
        foundCount_(kFrameBytes),
        nodes_(kFrameBytes + 1) {
    if (windowBits < kLzxMinWindowBits || windowBits > kLzxMaxWindowBits) {
      throw std::invalid_argument("LZX window out of range");
    }
    items_.reserve(kChunkFrames * kFrameBytes);
    out_.reserve(kChunkFrames * (kFrameBytes + 64));
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
    bufferBase_ = 0;
    bufferLength_ = 0;
    pendingFrames_.clear();
    deferredFrom_ = kNoPosition;
    std::fill(head_.begin(), head_.end(), 0);
    std::fill(head3_.begin(), head3_.end(), 0);
    repeated_ = {1, 1, 1};
    previousMain_.fill(0);
    previousLength_.fill(0);
    pricedFrom_.reset();
    headerWritten_ = false;
  }

  std::span<const CodedBlock> compressBlock(std::span<const std::uint8_t> block) override {
    const std::uint32_t start = position_ + pendingBytes();
    std::uint8_t* frame = appendToWindow(block);
    if (translationSize_ != 0 && start / kFrameBytes < kTranslatedFrames) {
      translateCalls(frame, block.size(), start, translationSize_);
    }
    pendingFrames_.push_back({static_cast<std::uint32_t>(block.size())});
    coded_.clear();
    if (pendingFrames_.size() == kChunkFrames || start + block.size() >= folderSize_) {
      codeChunk();
    }
    return coded_;
  }

 private:
  static constexpr std::size_t kChunkFrames = 8;
  static constexpr std::uint32_t kMatchesPerPosition = 12;
  static constexpr std::uint32_t kNotReached = 0xFFFFFFFF;
  static constexpr std::uint32_t kNoPosition = 0xFFFFFFFF;

  // A frame waiting to be coded: its size, whether it is stored, and its items.
  struct Frame {
    std::uint32_t size;
    bool stored = false;
    std::size_t firstItem = 0;
    std::size_t endItem = 0;
    RepeatedOffsets repeatedBefore{};
    // Its last items go in an uncompressed block: coded, the readers' lookahead passed its end.
    bool uncompressedTail = false;
  };

  // The cheapest way found to reach a position of the frame being parsed.
  struct Node {
    std::uint32_t cost;
    std::uint32_t from;       // the position the last step starts at
    std::uint32_t length;     // of the last step: 1 for a literal
    std::uint32_t formatted;  // of the last step's match
    RepeatedOffsets repeated;
  };

  std::uint32_t pendingBytes() const {
    std::uint32_t bytes = 0;
    for (const Frame& frame : pendingFrames_) bytes += frame.size;
    return bytes;
  }

  std::uint8_t* at(std::uint32_t position) { return buffer_.data() + (position - bufferBase_); }

  std::uint8_t* appendToWindow(std::span<const std::uint8_t> block) {
    if (bufferLength_ + block.size() > buffer_.size()) {
      // The window behind the frames not yet coded stays, and behind the positions before them
      // that wait to go into the tree.
      const std::size_t keep =
          std::min<std::size_t>(bufferLength_, windowSize_ + kNiceLength + pendingBytes());
      std::memmove(buffer_.data(), buffer_.data() + bufferLength_ - keep, keep);
      bufferBase_ += static_cast<std::uint32_t>(bufferLength_ - keep);
      bufferLength_ = keep;
    }
    std::uint8_t* frame = buffer_.data() + bufferLength_;
    std::memcpy(frame, block.data(), block.size());
    bufferLength_ += block.size();
    return frame;
  }

  static std::uint32_t hashOf(const std::uint8_t* p) {
    return (loadLe32(p) * 2654435761u) >> (32 - kHashBits);
  }
  static std::uint32_t hash3Of(const std::uint8_t* p) {
    const std::uint32_t value = p[0] | p[1] << 8 | p[2] << 16;
    return (value * 2654435761u) >> (32 - kHash3Bits);
  }

  static std::uint32_t matchLength(const std::uint8_t* a, const std::uint8_t* b,
                                   std::uint32_t limit) {
    std::uint32_t length = 0;
    while (length + 8 <= limit) {
      std::uint64_t x;
      std::uint64_t y;
      std::memcpy(&x, a + length, 8);
      std::memcpy(&y, b + length, 8);
      if (x != y) return length + static_cast<std::uint32_t>(__builtin_ctzll(x ^ y) / 8);
      length += 8;
    }
    while (length < limit && a[length] == b[length]) ++length;
    return length;
  }

  // Inserts position into the binary tree of the earlier positions with the same hash, sorted
  // by their next kNiceLength bytes. Into found (when given) go the matches longer than any
  // before them, by increasing length, each ending by frameEnd; returns how many. A position
  // with fewer bytes after it only searches: inserted on fewer bytes, it would leave the tree
  // out of order. It is inserted once more data comes.
  std::uint32_t searchTree(std::uint32_t position, std::uint32_t frameEnd, FoundMatch* found) {
    const std::uint32_t available =
        bufferBase_ + static_cast<std::uint32_t>(bufferLength_) - position;
    if (available < 4) return 0;
    const bool insert = available >= kNiceLength;
    if (!insert) deferredFrom_ = std::min(deferredFrom_, position);
    const std::uint32_t treeLimit = std::min<std::uint32_t>(kNiceLength, available);
    const std::uint32_t frameLimit = std::min<std::uint32_t>(kMaxMatch, frameEnd - position);
    const std::uint8_t* here = at(position);
    const std::uint32_t oldest = position > maxDistance_ ? position - maxDistance_ : 0;
    std::uint32_t reportedLongest = 2;
    std::uint32_t count = 0;
    // The tree's strings share four bytes: a three-byte match comes from the last position
    // with the same three.
    std::uint32_t& last3 = head3_[hash3Of(here)];
    if (found != nullptr && last3 > oldest && last3 <= position) {
      const std::uint8_t* there = at(last3 - 1);
      const std::uint32_t length = matchLength(here, there, frameLimit);
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
    for (std::uint32_t depth = kTreeDepth;; --depth) {
      if (candidate <= treeOldest || depth == 0) {
        if (insert) {
          *smaller = 0;
          *larger = 0;
        }
        break;
      }
      const std::uint32_t source = candidate - 1;
      const std::uint8_t* there = at(source);
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

  // Finds the matches at every position of the frame at start, but within stretches that a long
  // match covers, and in data that looks incompressible, where positions are passed over: not
  // searched, nor put in the tree. The tree stays sound without them; later data finds the
  // copy a long match came from instead.
  void findMatches(std::uint32_t start, std::uint32_t size) {
    const std::uint32_t end = start + size;
    // What was searched without more data after it goes into the tree now, in order.
    for (std::uint32_t deferred = std::exchange(deferredFrom_, kNoPosition);
         deferred < start && deferred + kNiceLength <= end; ++deferred) {
      searchTree(deferred, end, nullptr);
    }
    std::uint32_t misses = 0;
    for (std::uint32_t i = 0; i < size;) {
      FoundMatch* found = &found_[std::size_t{i} * kMatchesPerPosition];
      const std::uint32_t count = searchTree(start + i, end, found);
      foundCount_[i] = static_cast<std::uint8_t>(count);
      const std::uint32_t longest = count > 0 ? (found[count - 1] & 0xFF) + kMinMatch : 0;
      ++i;
      if (longest >= kNiceLength) {
        for (const std::uint32_t last = i - 1 + longest; i < last; ++i) {
          foundCount_[i] = 0;
        }
        misses = 0;
      } else if (longest >= 4) {
        misses = 0;
      } else {
        ++misses;
        for (std::uint32_t skip = misses / kMissesBeforeSkipping; skip > 0 && i < size; --skip) {
          foundCount_[i++] = 0;
        }
      }
    }
  }

  void addItem(std::uint32_t position, std::uint32_t length, std::uint32_t formatted) {
    if (length == 1) {
      items_.push_back({*at(position), kNoLength, 0, 0});
      return;
    }
    const int slot = slotOf(formatted);
    const std::uint32_t header = std::min<std::uint32_t>(length - kMinMatch, kPrimaryLengths);
    items_.push_back({static_cast<std::uint16_t>(256 + slot * 8 + header),
                      header == kPrimaryLengths
                          ? static_cast<std::uint8_t>(length - kMinMatch - kPrimaryLengths)
                          : kNoLength,
                      static_cast<std::uint8_t>(extraBits(slot)), formatted - slotBase(slot)});
  }

  // Appends the items of the cheapest path from segment to end (positions in the frame).
  void emitPath(std::uint32_t start, std::uint32_t segment, std::uint32_t end) {
    path_.clear();
    for (std::uint32_t i = end; i > segment; i = nodes_[i].from) path_.push_back(i);
    for (auto it = path_.rbegin(); it != path_.rend(); ++it) {
      const Node& node = nodes_[*it];
      addItem(start + node.from, node.length, node.formatted);
    }
  }

  // Parses the frame at start into items: the cheapest path by the prices, through literals,
  // repeated offsets and the matches found. Returns the repeated offsets after it.
  RepeatedOffsets parseFrame(std::uint32_t start, std::uint32_t size, const Prices& prices,
                             RepeatedOffsets repeated) {
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
      emitPath(start, segment, i);
      addItem(start + i, length, formatted);
      segment = i + length;
      reached = segment;
      nodes_[segment] = {0, 0, 0, 0, afterMatch(nodes_[i].repeated, formatted)};
      return segment;
    };
    for (std::uint32_t i = 0; i < size; ++i) {
      Node& node = nodes_[i];
      if (i != segment) {
        const Node& from = nodes_[node.from];
        node.repeated =
            node.length == 1 ? from.repeated : afterMatch(from.repeated, node.formatted);
      }
      const std::uint8_t* here = at(start + i);
      relax(i + 1, node.cost + prices.main[here[0]], i, 1, 0);
      const std::uint32_t limit = std::min<std::uint32_t>(kMaxMatch, size - i);
      if (limit < kMinMatch) continue;
      const RepeatedOffsets offsets = node.repeated;
      const std::uint32_t cost = node.cost;
      bool settled = false;
      for (std::uint32_t r = 0; r < 3 && !settled; ++r) {
        if (offsets[r] > start + i || (r > 0 && offsets[r] == offsets[0])) continue;
        const std::uint32_t length = matchLength(here, here - offsets[r], limit);
        if (length >= kNiceLength) {
          i = settle(i, length, r) - 1;
          settled = true;
        } else {
          for (std::uint32_t l = kMinMatch; l <= length; ++l) {
            relax(i + l, cost + prices.match(static_cast<int>(r), l), i, l, r);
          }
        }
      }
      if (settled) continue;
      const FoundMatch* found = &found_[std::size_t{i} * kMatchesPerPosition];
      std::uint32_t shorter = kMinMatch;
      for (std::uint32_t m = 0; m < foundCount_[i]; ++m) {
        const std::uint32_t distance = found[m] >> 8;
        const std::uint32_t length = (found[m] & 0xFF) + kMinMatch;
        if (distance == offsets[0] || distance == offsets[1] || distance == offsets[2]) {
          shorter = length;
          continue;
        }
        const std::uint32_t formatted = distance + 2;
        if (length >= kNiceLength) {
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
      emitPath(start, segment, size);
      const Node& last = nodes_[size];
      const Node& from = nodes_[last.from];
      return last.length == 1 ? from.repeated : afterMatch(from.repeated, last.formatted);
    }
    return nodes_[size].repeated;
  }

  BlockCodes planBlock(const Frequencies& frequencies) const {
    BlockCodes codes;
    buildLengths(std::span(frequencies.main).first(mainSymbols_), kMaxCodeBits,
                 std::span(codes.main).first(mainSymbols_));
    buildLengths(frequencies.length, kMaxCodeBits, codes.length);
    buildLengths(frequencies.aligned, 7, codes.aligned);
    std::uint64_t alignedCost = 3 * kAlignedSymbols + frequencies.alignedOffsetBits;
    for (int i = 0; i < kAlignedSymbols; ++i) {
      alignedCost += std::uint64_t{frequencies.aligned[i]} * codes.aligned[i];
    }
    codes.alignedBlock = alignedCost < frequencies.offsetBits;
    codes.bits = 3 + 24 + (codes.alignedBlock ? alignedCost : frequencies.offsetBits);
    for (int i = 0; i < mainSymbols_; ++i) {
      codes.bits += std::uint64_t{frequencies.main[i]} * codes.main[i];
    }
    for (int i = 0; i < kLengthSymbols; ++i) {
      codes.bits += std::uint64_t{frequencies.length[i]} * codes.length[i];
    }
    codes.bits +=
        treeSection(nullptr, std::span(codes.main).first(256), std::span(previousMain_).first(256));
    codes.bits += treeSection(nullptr, std::span(codes.main).subspan(256, mainSymbols_ - 256),
                              std::span(previousMain_).subspan(256, mainSymbols_ - 256));
    codes.bits += treeSection(nullptr, codes.length, previousLength_);
    return codes;
  }

  // Next to no matches and bytes near evenly spread (7.98 bits of entropy a byte, where random
  // data gives 7.99): no parse would shrink the frame, and its codes would misprice the next.
  bool looksIncompressible(std::uint32_t start, std::uint32_t size) {
    std::uint32_t matched = 0;
    for (std::uint32_t i = 0; i < size; ++i) matched += foundCount_[i] != 0 ? 1 : 0;
    if (matched * 64 > size) return false;
    std::array<std::uint32_t, 256> counts{};
    const std::uint8_t* bytes = at(start);
    for (std::uint32_t i = 0; i < size; ++i) ++counts[bytes[i]];
    double bits = 0;
    for (const std::uint32_t count : counts) {
      if (count != 0) bits += count * std::log2(static_cast<double>(size) / count);
    }
    return bits > 7.98 * size;
  }

  // Parses one frame, priced by the codes of the frame before; a folder's first frame, which has
  // none, is parsed again priced by its own. A frame that would code larger than stored, or looks
  // incompressible, is marked stored and leaves the repeated offsets as they were.
  void parsePendingFrame(Frame& frame, std::uint32_t start) {
    findMatches(start, frame.size);
    frame.firstItem = items_.size();
    frame.repeatedBefore = repeated_;
    if (looksIncompressible(start, frame.size)) {
      frame.stored = true;
      frame.endItem = items_.size();
      return;
    }
    Prices prices;
    if (pricedFrom_) {
      prices.set(*pricedFrom_, mainSymbols_);
    } else {
      prices.setDefaults(mainSymbols_);
    }
    RepeatedOffsets after{};
    const int passes = pricedFrom_ ? kParsePasses : kParsePasses + 1;
    for (int pass = 0; pass < passes; ++pass) {
      items_.resize(frame.firstItem);
      after = parseFrame(start, frame.size, prices, repeated_);
      Frequencies frequencies;
      frequencies.add(std::span(items_).subspan(frame.firstItem));
      const BlockCodes codes = planBlock(frequencies);
      pricedFrom_ = codes;
      prices.set(codes, mainSymbols_);
      if (pass + 1 == passes) {
        frame.stored = (codes.bits + 7) / 8 >= storedBytes(frame.size);
      }
    }
    if (frame.stored) {
      items_.resize(frame.firstItem);
    } else {
      repeated_ = after;
    }
    frame.endItem = items_.size();
  }

  // Stored: the stream header, the block header, 1 to 16 bits of padding, R0-R2, the bytes.
  std::size_t storedBytes(std::uint32_t size) const {
    return (headerWritten_ ? 0 : 4) + 6 + 12 + size + (size & 1);
  }

  std::span<const Item> itemsOf(const Frame& frame) const {
    return std::span(items_).subspan(frame.firstItem, frame.endItem - frame.firstItem);
  }

  void codeChunk() {
    items_.clear();
    out_.clear();
    frameEnds_.clear();
    std::uint32_t start = position_;
    for (Frame& frame : pendingFrames_) {
      parsePendingFrame(frame, start);
      start += frame.size;
    }
    const auto previousMain = previousMain_;
    const auto previousLength = previousLength_;
    const bool headerWritten = headerWritten_;
    // Written again without joining frames into blocks if a frame came out too long, and with an
    // uncompressed tail for each frame that ended inside the readers' lookahead.
    for (bool split = true;;) {
      tailAdded_ = false;
      const bool fits = writeChunk(split);
      if (!tailAdded_ && (fits || !split)) break;
      split = split && fits;
      out_.clear();
      frameEnds_.clear();
      previousMain_ = previousMain;
      previousLength_ = previousLength;
      headerWritten_ = headerWritten;
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

  // A run of items in one block. A block within one frame may be uncompressed instead.
  struct Block {
    std::size_t firstItem;
    std::size_t endItem;
    Frequencies frequencies;
    std::uint32_t bytes = 0;
    bool withinFrame = true;
    bool endsFrame = false;
    bool uncompressed = false;
    bool tail = false;  // a frame's uncompressed tail: joins no other block
  };

  // The first of the frame's last items that hold an even number of bytes, at least two, so that
  // the frame's end stays on a 16-bit word.
  std::size_t tailStart(const Frame& frame) const {
    std::size_t first = frame.endItem;
    std::uint32_t bytes = 0;
    while (first > frame.firstItem && (bytes < 2 || (bytes & 1) != 0)) {
      bytes += itemBytes(items_[--first]);
    }
    return first;
  }

  Block tailBlock(const Frame& frame, std::size_t first) const {
    Block block{first, frame.endItem, {}, 0, true, true, true, true};
    for (std::size_t i = first; i < frame.endItem; ++i) block.bytes += itemBytes(items_[i]);
    return block;
  }

  static std::uint32_t itemBytes(const Item& item) {
    if (item.mainSymbol < 256) return 1;
    const std::uint32_t header = (item.mainSymbol - 256) & 7;
    return header < kPrimaryLengths ? header + kMinMatch
                                    : item.lengthSymbol + kMinMatch + kPrimaryLengths;
  }

  static RepeatedOffsets afterItem(const RepeatedOffsets& repeated, const Item& item) {
    if (item.mainSymbol < 256) return repeated;
    const int slot = (item.mainSymbol - 256) >> 3;
    return afterMatch(repeated, slotBase(slot) + item.offsetBits);
  }

  // Uncompressed in a block of its own, mid-frame: its header, 1 to 16 bits of padding, R0-R2,
  // the bytes and a padding byte after an odd count. A frame's end must fall on a 16-bit word,
  // so an odd block never ends one.
  static std::optional<std::uint64_t> uncompressedBits(const Block& block) {
    if (!block.withinFrame || (block.endsFrame && (block.bytes & 1) != 0)) return std::nullopt;
    return 3 + 24 + 16 + 96 + 8 * std::uint64_t{block.bytes + (block.bytes & 1)};
  }

  std::uint64_t blockBits(Block& block) const {
    if (block.tail) return *uncompressedBits(block);
    const std::uint64_t compressed = planBlock(block.frequencies).bits;
    const std::optional<std::uint64_t> uncompressed = uncompressedBits(block);
    block.uncompressed = uncompressed && *uncompressed < compressed;
    return block.uncompressed ? *uncompressed : compressed;
  }

  static Block joined(const Block& a, const Block& b) {
    Block block = a;
    block.endItem = b.endItem;
    block.frequencies.add(b.frequencies);
    block.bytes += b.bytes;
    block.withinFrame = a.withinFrame && b.withinFrame && !a.endsFrame;
    block.endsFrame = b.endsFrame;
    return block;
  }

  // Cuts the compressed frames first to end into blocks. Pieces end where a file begins, at a
  // frame's end and every kPieceBytes (see there); then neighbours are joined, the pair that saves
  // most first, while one set of trees for both costs less than two.
  std::vector<Block> planBlocks(std::size_t first, std::size_t end, std::uint32_t start) const {
    std::vector<Block> blocks;
    std::uint32_t position = start;
    auto nextMember = std::upper_bound(memberStarts_.begin(), memberStarts_.end(), position);
    for (std::size_t f = first; f < end; ++f) {
      const Frame& frame = pendingFrames_[f];
      const std::size_t tail = frame.uncompressedTail ? tailStart(frame) : frame.endItem;
      std::size_t pieceStart = frame.firstItem;
      std::uint32_t bytes = 0;
      for (std::size_t i = frame.firstItem; i < tail; ++i) {
        const std::uint32_t length = itemBytes(items_[i]);
        bytes += length;
        position += length;
        bool fileStarts = false;
        for (; nextMember != memberStarts_.end() && *nextMember <= position; ++nextMember) {
          fileStarts = true;
        }
        if (bytes >= kPieceBytes || i + 1 == tail || (fileStarts && bytes >= kMinPieceBytes)) {
          Block piece{pieceStart, i + 1, {}, bytes, true, i + 1 == frame.endItem};
          piece.frequencies.add(std::span(items_).subspan(pieceStart, i + 1 - pieceStart));
          blocks.push_back(piece);
          pieceStart = i + 1;
          bytes = 0;
        }
      }
      if (tail != frame.endItem) {
        blocks.push_back(tailBlock(frame, tail));
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
      Block block = joined(blocks[i], blocks[next[i]]);
      joinedBits[i] = blockBits(block);
      joinedUncompressed[i] = block.uncompressed;
    };
    for (std::size_t i = 0; i < count; ++i) {
      bits[i] = blockBits(blocks[i]);
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
    std::vector<Block> kept;
    for (std::size_t i = 0; i < count; i = next[i]) kept.push_back(blocks[i]);
    return kept;
  }

  // Writes the chunk's frames: stored ones as they are, runs of compressed ones in blocks cut by
  // planBlocks, or one block a frame when split is false; the bit stream is realigned at each
  // frame's end. Returns false if a frame came out longer than a reader takes in one data block.
  bool writeChunk(bool split) {
    bool fits = true;
    std::uint32_t position = position_;
    for (std::size_t first = 0; first < pendingFrames_.size();) {
      if (pendingFrames_[first].stored) {
        writeStored(position, pendingFrames_[first].size, pendingFrames_[first].repeatedBefore);
        position += pendingFrames_[first++].size;
        continue;
      }
      std::size_t end = first + 1;
      while (end < pendingFrames_.size() && !pendingFrames_[end].stored) ++end;
      std::vector<Block> blocks;
      if (split) {
        blocks = planBlocks(first, end, position);
      } else {
        for (std::size_t i = first; i < end; ++i) {
          const Frame& frame = pendingFrames_[i];
          const std::size_t tail = frame.uncompressedTail ? tailStart(frame) : frame.endItem;
          if (tail != frame.firstItem) {
            blocks.push_back({frame.firstItem, tail, {}});
            blocks.back().frequencies.add(
                std::span(items_).subspan(frame.firstItem, tail - frame.firstItem));
          }
          if (tail != frame.endItem) blocks.push_back(tailBlock(frame, tail));
        }
      }
      BitWriter bits(out_);
      RepeatedOffsets repeated = pendingFrames_[first].repeatedBefore;
      std::size_t frame = first;
      std::size_t frameStart = out_.size();
      for (const Block& block : blocks) {
        if (block.uncompressed) {
          for (std::size_t i = block.firstItem; i < block.endItem; ++i) {
            repeated = afterItem(repeated, items_[i]);
          }
          writeUncompressed(bits, at(position), block.bytes, repeated);
          position += block.bytes;
        } else {
          writeBlockHeader(bits, block);
          for (std::size_t i = block.firstItem; i < block.endItem; ++i) {
            writeItem(bits, items_[i]);
            repeated = afterItem(repeated, items_[i]);
            position += itemBytes(items_[i]);
            if (i + 1 != block.endItem && i + 1 == pendingFrames_[frame].endItem) {
              endFrame(bits, frame, frameStart, fits);
            }
          }
        }
        if (block.endItem == pendingFrames_[frame].endItem) endFrame(bits, frame, frameStart, fits);
      }
      first = end;
    }
    return fits;
  }

  void endFrame(BitWriter& bits, std::size_t& frame, std::size_t& frameStart, bool& fits) {
    bits.align();
    fits = fits && out_.size() - frameStart <= kMaxCodedFrame;
    if (bits.lookaheadEnd() > bits.position() && !pendingFrames_[frame].uncompressedTail) {
      pendingFrames_[frame].uncompressedTail = true;
      tailAdded_ = true;
    }
    frameStart = out_.size();
    frameEnds_.push_back(frameStart);
    ++frame;
  }

  void writeStreamHeader(BitWriter& bits) {
    if (headerWritten_) return;
    bits.put(translationSize_ != 0 ? 1 : 0, 1);
    if (translationSize_ != 0) bits.put(static_cast<std::uint32_t>(translationSize_), 32);
    headerWritten_ = true;
  }

  // The block's header and trees; its codes become the ones items are written with.
  void writeBlockHeader(BitWriter& bits, const Block& block) {
    codes_ = planBlock(block.frequencies);
    buildCodes(std::span(codes_.main).first(mainSymbols_), mainCodes_);
    buildCodes(codes_.length, lengthCodes_);
    buildCodes(codes_.aligned, alignedCodes_);
    mainLookahead_ = lookaheadOf(std::span(codes_.main).first(mainSymbols_));
    lengthLookahead_ = lookaheadOf(codes_.length);
    alignedLookahead_ = lookaheadOf(codes_.aligned);
    std::uint32_t size = 0;
    for (std::size_t i = block.firstItem; i < block.endItem; ++i) size += itemBytes(items_[i]);
    writeStreamHeader(bits);
    bits.put(codes_.alignedBlock ? kBlockAligned : kBlockVerbatim, 3);
    bits.put(size, 24);
    if (codes_.alignedBlock) {
      for (std::uint8_t length : codes_.aligned) bits.put(length, 3);
    }
    treeSection(&bits, std::span(codes_.main).first(256), std::span(previousMain_).first(256));
    treeSection(&bits, std::span(codes_.main).subspan(256, mainSymbols_ - 256),
                std::span(previousMain_).subspan(256, mainSymbols_ - 256));
    treeSection(&bits, codes_.length, previousLength_);
    previousMain_ = codes_.main;
    previousLength_ = codes_.length;
  }

  void writeItem(BitWriter& bits, const Item& item) {
    bits.putCode(mainCodes_[item.mainSymbol], codes_.main[item.mainSymbol], mainLookahead_);
    if (item.lengthSymbol != kNoLength) {
      bits.putCode(lengthCodes_[item.lengthSymbol], codes_.length[item.lengthSymbol],
                   lengthLookahead_);
    }
    if (codes_.alignedBlock && item.offsetBitCount >= 3) {
      bits.put(item.offsetBits >> 3, item.offsetBitCount - 3);
      const std::uint32_t low = item.offsetBits & 7;
      bits.putCode(alignedCodes_[low], codes_.aligned[low], alignedLookahead_);
    } else if (item.offsetBitCount > 0) {
      bits.put(item.offsetBits, item.offsetBitCount);
    }
  }

  void writeStored(std::uint32_t start, std::uint32_t size, const RepeatedOffsets& repeated) {
    BitWriter bits(out_);
    writeUncompressed(bits, at(start), size, repeated);
    frameEnds_.push_back(out_.size());
  }

  void writeUncompressed(BitWriter& bits, const std::uint8_t* data, std::uint32_t size,
                         const RepeatedOffsets& repeated) {
    writeStreamHeader(bits);
    bits.put(kBlockUncompressed, 3);
    bits.put(size, 24);
    if (bits.aligned()) bits.put(0, 16);
    bits.align();
    for (std::uint32_t offset : repeated) {
      out_.resize(out_.size() + 4);
      storeLe32(out_.data() + out_.size() - 4, offset);
    }
    out_.insert(out_.end(), data, data + size);
    if (size & 1) out_.push_back(0);
  }

  const int windowBits_;
  const std::uint32_t windowSize_;
  const std::uint32_t maxDistance_;
  const int mainSymbols_;
  const std::uint32_t treeSpan_;
  std::vector<std::uint8_t> buffer_;  // the window and the frames being coded
  std::uint32_t bufferBase_ = 0;      // stream position of buffer_[0]
  std::size_t bufferLength_ = 0;
  std::vector<std::uint32_t> head_;  // hash to the last position + 1 with it, 0 for none
  std::vector<std::uint32_t> head3_;
  std::vector<std::uint32_t> tree_;  // position to its smaller and larger children (+ 1)
  std::vector<FoundMatch> found_;    // kMatchesPerPosition for each position of the frame
  std::vector<std::uint8_t> foundCount_;
  std::vector<Node> nodes_;
  std::vector<std::uint32_t> path_;
  std::uint64_t folderSize_ = 0;
  std::vector<std::uint32_t> memberStarts_;
  std::uint32_t position_ = 0;  // of the first frame not yet coded, in the folder's data
  std::uint32_t deferredFrom_ = kNoPosition;  // positions from here on are not in the tree
  std::vector<Frame> pendingFrames_;
  std::int32_t translationSize_ = 0;
  bool headerWritten_ = false;
  RepeatedOffsets repeated_ = {1, 1, 1};
  std::array<std::uint8_t, kMaxMainSymbols> previousMain_{};
  std::array<std::uint8_t, kLengthSymbols> previousLength_{};
  std::optional<BlockCodes> pricedFrom_;  // the codes of the frame before, none at the start
  std::vector<Item> items_;
  std::vector<std::uint8_t> out_;
  std::vector<std::size_t> frameEnds_;  // in out_
  bool tailAdded_ = false;
  std::vector<CodedBlock> coded_;
  BlockCodes codes_;  // of the block being written
  std::array<std::uint16_t, kMaxMainSymbols> mainCodes_{};
  std::array<std::uint16_t, kLengthSymbols> lengthCodes_{};
  std::array<std::uint16_t, kAlignedSymbols> alignedCodes_{};
  int mainLookahead_ = 0;
  int lengthLookahead_ = 0;
  int alignedLookahead_ = 0;
};

}  // namespace

std::unique_ptr<BlockCompressor> makeLzxCompressor(int windowBits) {
  return std::make_unique<LzxCompressor>(windowBits);
}

std::size_t lzxCompressorMemory(int windowBits) {
  const std::size_t window = std::size_t{1} << windowBits;
  constexpr std::size_t kChunk = 8 * std::size_t{kFrameBytes};
  return window + std::max(kSlideSlack, window / 4) +
         8 * std::min(window, std::size_t{1} << kTreeBits) + (4u << kHashBits) +
         (4u << kHash3Bits) + kFrameBytes * (12 * sizeof(std::uint32_t) + 1 + 32 + 4) +
         kChunk * (sizeof(Item) + 1) + (kChunk / kMinPieceBytes + 8) * sizeof(Frequencies);
}

void X86CallCounter::add(std::span<const std::uint8_t> bytes) {
  bytes_ += bytes.size();
  for (std::size_t i = 0; i + 5 <= bytes.size(); ++i) {
    if (bytes[i] != 0xE8) continue;
    const auto displacement = static_cast<std::int32_t>(loadLe32(bytes.data() + i + 1));
    if (displacement >= -(1 << 22) && displacement < (1 << 22)) {
      ++calls_;
      i += 4;
    }
  }
}

}  // namespace archivers::cab
