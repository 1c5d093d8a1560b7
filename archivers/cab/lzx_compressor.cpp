#include "cab/lzx_compressor.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>
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

constexpr int kHashBits = 17;
constexpr int kMaxChain = 24;
constexpr int kNiceLength = 48;
// Once a match this long is found, only a quarter of the chain is searched.
constexpr std::uint32_t kGoodLength = 16;
// After this many literals in a row the data looks incompressible: positions are skipped
// unsearched, one more for every further run of this length.
constexpr std::uint32_t kLiteralRunBeforeSkipping = 32;
// Bytes kept beyond the window so the window slides rarely.
constexpr std::size_t kSlideSlack = 512 * 1024;

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
  bool aligned() const { return count_ == 0; }
  void align() {
    if (count_ > 0) put(0, 16 - count_);
  }

 private:
  std::vector<std::uint8_t>& out_;
  std::uint32_t buffer_ = 0;
  int count_ = 0;
};

// Code lengths of at most maxBits for the frequencies; at least two symbols get a code, since
// readers refuse an incomplete code. Over-long codes are avoided by flattening the frequencies.
void buildLengths(std::span<const std::uint32_t> frequencies, int maxBits,
                  std::span<std::uint8_t> lengths) {
  const std::size_t count = frequencies.size();
  std::vector<std::uint32_t> weights(frequencies.begin(), frequencies.end());
  std::size_t used = static_cast<std::size_t>(
      std::count_if(weights.begin(), weights.end(), [](std::uint32_t w) { return w > 0; }));
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
  std::vector<Node> nodes;
  std::vector<std::uint8_t> depth;
  for (;;) {
    nodes.clear();
    for (std::size_t i = 0; i < count; ++i) {
      if (weights[i] > 0) nodes.push_back({weights[i], -1, static_cast<int>(i)});
    }
    std::sort(nodes.begin(), nodes.end(), [](const Node& a, const Node& b) {
      return a.weight != b.weight ? a.weight < b.weight : a.right < b.right;
    });
    // Two queues: the sorted leaves and the merged nodes, which come out in weight order.
    const std::size_t leaves = nodes.size();
    std::size_t nextLeaf = 0;
    std::size_t nextMerged = leaves;
    auto take = [&]() {
      if (nextLeaf < leaves &&
          (nextMerged == nodes.size() || nodes[nextLeaf].weight <= nodes[nextMerged].weight)) {
        return static_cast<int>(nextLeaf++);
      }
      return static_cast<int>(nextMerged++);
    };
    for (std::size_t left = leaves; left > 1; --left) {
      const int a = take();
      const int b = take();
      nodes.push_back({nodes[a].weight + nodes[b].weight, a, b});
    }
    depth.assign(nodes.size(), 0);
    int longest = 0;
    for (std::size_t i = nodes.size(); i-- > leaves;) {
      depth[nodes[i].left] = static_cast<std::uint8_t>(depth[i] + 1);
      depth[nodes[i].right] = static_cast<std::uint8_t>(depth[i] + 1);
    }
    std::fill(lengths.begin(), lengths.end(), 0);
    for (std::size_t i = 0; i < leaves; ++i) {
      lengths[nodes[i].right] = depth[i];
      longest = std::max<int>(longest, depth[i]);
    }
    if (longest <= maxBits) return;
    for (std::uint32_t& weight : weights) {
      if (weight > 0) weight = (weight >> 1) | 1;
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

// One coded symbol of a frame: a literal, or a match's main symbol with its length and offset.
struct Item {
  std::uint16_t mainSymbol;
  std::uint16_t lengthSymbol;  // kNoLength unless the length header is 7
  std::uint32_t offsetBits;    // the formatted offset minus its slot's base
  std::uint8_t offsetBitCount;
};
constexpr std::uint16_t kNoLength = 0xFFFF;

// The pretree codes of one tree section: each new length as a change from the previous block's,
// runs of zeros and of equal lengths shortened.
struct PretreeCode {
  std::uint8_t symbol;
  std::uint8_t extraBitCount;
  std::uint8_t extra;
  std::uint8_t repeatedSymbol;  // after code 19, the change that applies to the whole run
};

std::vector<PretreeCode> pretreeCodes(std::span<const std::uint8_t> lengths,
                                      std::span<const std::uint8_t> previous) {
  std::vector<PretreeCode> codes;
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

void writeTreeSection(BitWriter& bits, std::span<const std::uint8_t> lengths,
                      std::span<const std::uint8_t> previous) {
  const std::vector<PretreeCode> codes = pretreeCodes(lengths, previous);
  std::array<std::uint32_t, kPretreeSymbols> frequencies{};
  for (const PretreeCode& code : codes) {
    ++frequencies[code.symbol];
    if (code.symbol == 19) ++frequencies[code.repeatedSymbol];
  }
  std::array<std::uint8_t, kPretreeSymbols> pretreeLengths{};
  std::array<std::uint16_t, kPretreeSymbols> pretree{};
  buildLengths(frequencies, 15, pretreeLengths);
  buildCodes(pretreeLengths, pretree);
  for (std::uint8_t length : pretreeLengths) bits.put(length, 4);
  for (const PretreeCode& code : codes) {
    bits.put(pretree[code.symbol], pretreeLengths[code.symbol]);
    if (code.extraBitCount > 0) bits.put(code.extra, code.extraBitCount);
    if (code.symbol == 19)
      bits.put(pretree[code.repeatedSymbol], pretreeLengths[code.repeatedSymbol]);
  }
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

class LzxCompressor : public BlockCompressor {
 public:
  explicit LzxCompressor(int windowBits)
      : windowBits_(windowBits),
        windowSize_(1u << windowBits),
        // The format allows window - 3, but 7-Zip decodes that offset wrongly.
        maxDistance_(windowSize_ - 4),
        mainSymbols_(256 + 8 * positionSlots(windowBits)),
        buffer_(windowSize_ + std::max<std::size_t>(kSlideSlack, windowSize_ / 4)),
        head_(1u << kHashBits),
        chain_(windowSize_) {
    if (windowBits < kLzxMinWindowBits || windowBits > kLzxMaxWindowBits) {
      throw std::invalid_argument("LZX window out of range");
    }
    items_.reserve(kFrameBytes);
    out_.reserve(kFrameBytes + 64);
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
    position_ = 0;
    bufferBase_ = 0;
    bufferLength_ = 0;
    inserted_ = 0;
    std::fill(head_.begin(), head_.end(), 0);
    repeated_ = {1, 1, 1};
    previousMain_.fill(0);
    previousLength_.fill(0);
    headerWritten_ = false;
    updatePrices();
  }

  std::span<const std::uint8_t> compressBlock(std::span<const std::uint8_t> block) override {
    std::uint8_t* frame = appendToWindow(block);
    if (translationSize_ != 0 && position_ / kFrameBytes < kTranslatedFrames) {
      translateCalls(frame, block.size(), position_, translationSize_);
    }
    const std::array<std::uint32_t, 3> repeatedBefore = repeated_;
    parseFrame(static_cast<std::uint32_t>(block.size()));
    out_.clear();
    if (!encodeCompressed(static_cast<std::uint32_t>(block.size()))) {
      repeated_ = repeatedBefore;
      encodeUncompressed(frame, static_cast<std::uint32_t>(block.size()));
    }
    headerWritten_ = true;
    position_ += static_cast<std::uint32_t>(block.size());
    return out_;
  }

 private:
  std::uint8_t* at(std::uint32_t position) { return buffer_.data() + (position - bufferBase_); }

  std::uint8_t* appendToWindow(std::span<const std::uint8_t> block) {
    if (bufferLength_ + block.size() > buffer_.size()) {
      const std::size_t keep = windowSize_;
      std::memmove(buffer_.data(), buffer_.data() + bufferLength_ - keep, keep);
      bufferBase_ += static_cast<std::uint32_t>(bufferLength_ - keep);
      bufferLength_ = keep;
    }
    std::uint8_t* frame = buffer_.data() + bufferLength_;
    std::memcpy(frame, block.data(), block.size());
    bufferLength_ += block.size();
    return frame;
  }

  std::uint32_t hashAt(std::uint32_t position) {
    const std::uint8_t* p = at(position);
    const std::uint32_t value = p[0] | p[1] << 8 | p[2] << 16;
    return (value * 2654435761u) >> (32 - kHashBits);
  }

  // Adds positions up to end to the hash chains, as far as three bytes are there to hash.
  void insertUpTo(std::uint32_t end) {
    const std::uint32_t available = bufferBase_ + static_cast<std::uint32_t>(bufferLength_);
    end = std::min(end, available >= 2 ? available - 2 : 0);
    // Positions passed over unsearched (inside long repeats) and already out of reach are left out.
    inserted_ = std::max({inserted_, bufferBase_, end > maxDistance_ ? end - maxDistance_ : 0});
    for (; inserted_ < end; ++inserted_) {
      std::uint32_t& first = head_[hashAt(inserted_)];
      chain_[inserted_ & (windowSize_ - 1)] = first;
      first = inserted_ + 1;
    }
  }

  std::uint32_t matchLength(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t limit) {
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

  struct Match {
    std::uint32_t length = 0;
    std::uint32_t formatted = 0;  // 0 to 2: repeated offset; else offset + 2
    int gain = 0;                 // bits saved against literals
  };

  int literalCost(std::uint32_t from, std::uint32_t count) {
    return literalCosts_[from - frameStart_ + count] - literalCosts_[from - frameStart_];
  }

  int matchCost(std::uint32_t length, std::uint32_t formatted) {
    const int slot = slotOf(formatted);
    const std::uint32_t header = std::min<std::uint32_t>(length - kMinMatch, kPrimaryLengths);
    int cost = mainPrice_[256 + slot * 8 + header] + extraBits(slot);
    if (header == kPrimaryLengths) cost += lengthPrice_[length - kMinMatch - kPrimaryLengths];
    return cost;
  }

  // The best match at position that ends by frameEnd, judged by the bits it saves.
  Match bestMatch(std::uint32_t position, std::uint32_t frameEnd) {
    Match best;
    const std::uint32_t limit = std::min<std::uint32_t>(kMaxMatch, frameEnd - position);
    if (limit < kMinMatch) return best;
    const std::uint8_t* here = at(position);
    auto consider = [&](std::uint32_t length, std::uint32_t formatted) {
      const int gain = literalCost(position, length) - matchCost(length, formatted);
      if (gain > best.gain) best = {length, formatted, gain};
    };
    std::uint32_t longestRepeat = 0;
    for (std::uint32_t i = 0; i < 3; ++i) {
      const std::uint32_t offset = repeated_[i];
      if (offset > position) continue;
      const std::uint32_t length = matchLength(here, here - offset, limit);
      if (length >= kMinMatch) consider(length, i);
      longestRepeat = std::max(longestRepeat, length);
    }
    if (limit < 3 || longestRepeat >= kNiceLength) return best;
    insertUpTo(position);
    std::uint32_t longest = 2;
    std::uint32_t candidate = head_[hashAt(position)];
    const std::uint32_t oldest = position > maxDistance_ ? position - maxDistance_ : 0;
    int depthLeft = kMaxChain;
    for (; depthLeft > 0 && candidate > oldest; --depthLeft) {
      const std::uint32_t source = candidate - 1;
      const std::uint8_t* there = at(source);
      if (there[longest] == here[longest]) {
        const std::uint32_t length = matchLength(here, there, limit);
        if (length > longest) {
          if (length >= kGoodLength && longest < kGoodLength) depthLeft /= 4;
          longest = length;
          consider(length, position - source + 2);
          if (length >= kNiceLength || length == limit) break;
        }
      }
      candidate = chain_[source & (windowSize_ - 1)];
    }
    return best;
  }

  void addLiteral(std::uint32_t position) { items_.push_back({*at(position), kNoLength, 0, 0}); }

  void addMatch(const Match& match) {
    std::uint32_t formatted = match.formatted;
    if (formatted < 3) {
      std::swap(repeated_[0], repeated_[formatted]);
    } else {
      repeated_ = {formatted - 2, repeated_[0], repeated_[1]};
    }
    const int slot = slotOf(formatted);
    const std::uint32_t header = std::min<std::uint32_t>(match.length - kMinMatch, kPrimaryLengths);
    items_.push_back({static_cast<std::uint16_t>(256 + slot * 8 + header),
                      header == kPrimaryLengths
                          ? static_cast<std::uint16_t>(match.length - kMinMatch - kPrimaryLengths)
                          : kNoLength,
                      formatted - slotBase(slot), static_cast<std::uint8_t>(extraBits(slot))});
  }

  // Lazy parsing: a match is taken unless the one starting a byte later saves more.
  void parseFrame(std::uint32_t size) {
    items_.clear();
    frameStart_ = position_;
    const std::uint32_t end = position_ + size;
    literalCosts_.resize(size + 1);
    literalCosts_[0] = 0;
    for (std::uint32_t i = 0; i < size; ++i) {
      literalCosts_[i + 1] = literalCosts_[i] + mainPrice_[*at(position_ + i)];
    }
    std::uint32_t position = position_;
    std::uint32_t literalRun = 0;
    Match current = bestMatch(position, end);
    while (position < end) {
      if (current.gain <= 0) {
        addLiteral(position);
        ++position;
        ++literalRun;
        for (std::uint32_t skip = literalRun / kLiteralRunBeforeSkipping;
             skip > 0 && position < end; --skip) {
          addLiteral(position);
          ++position;
        }
        current = bestMatch(position, end);
        continue;
      }
      literalRun = 0;
      if (current.length < kNiceLength && position + 1 < end) {
        const Match next = bestMatch(position + 1, end);
        if (next.gain > current.gain) {
          addLiteral(position);
          ++position;
          current = next;
          continue;
        }
      }
      addMatch(current);
      position += current.length;
      current = bestMatch(position, end);
    }
  }

  void updatePrices() {
    for (int i = 0; i < mainSymbols_; ++i) {
      mainPrice_[i] = previousMain_[i] != 0 ? previousMain_[i] : (i < 256 ? 9 : 11);
    }
    for (int i = 0; i < kLengthSymbols; ++i) {
      lengthPrice_[i] = previousLength_[i] != 0 ? previousLength_[i] : 9;
    }
  }

  void writeStreamHeader(BitWriter& bits) {
    if (headerWritten_) return;
    bits.put(translationSize_ != 0 ? 1 : 0, 1);
    if (translationSize_ != 0) bits.put(static_cast<std::uint32_t>(translationSize_), 32);
  }

  // Codes the frame's items as a verbatim or aligned offset block, whichever is shorter; false
  // (and nothing kept) when storing the frame would be shorter still.
  bool encodeCompressed(std::uint32_t size) {
    std::array<std::uint32_t, kMaxMainSymbols> mainFrequencies{};
    std::array<std::uint32_t, kLengthSymbols> lengthFrequencies{};
    std::array<std::uint32_t, kAlignedSymbols> alignedFrequencies{};
    for (const Item& item : items_) {
      ++mainFrequencies[item.mainSymbol];
      if (item.lengthSymbol != kNoLength) ++lengthFrequencies[item.lengthSymbol];
      if (item.offsetBitCount >= 3) ++alignedFrequencies[item.offsetBits & 7];
    }
    std::array<std::uint8_t, kMaxMainSymbols> mainLengths{};
    std::array<std::uint8_t, kLengthSymbols> lengthLengths{};
    std::array<std::uint8_t, kAlignedSymbols> alignedLengths{};
    buildLengths(std::span(mainFrequencies).first(mainSymbols_), kMaxCodeBits,
                 std::span(mainLengths).first(mainSymbols_));
    buildLengths(lengthFrequencies, kMaxCodeBits, lengthLengths);
    buildLengths(alignedFrequencies, 7, alignedLengths);
    std::uint64_t alignedCost = 3 * kAlignedSymbols;
    std::uint64_t verbatimCost = 0;
    for (int i = 0; i < kAlignedSymbols; ++i) {
      alignedCost += std::uint64_t{alignedFrequencies[i]} * alignedLengths[i];
      verbatimCost += std::uint64_t{alignedFrequencies[i]} * 3;
    }
    const bool aligned = alignedCost < verbatimCost;

    std::array<std::uint16_t, kMaxMainSymbols> mainCodes{};
    std::array<std::uint16_t, kLengthSymbols> lengthCodes{};
    std::array<std::uint16_t, kAlignedSymbols> alignedCodes{};
    buildCodes(std::span(mainLengths).first(mainSymbols_), mainCodes);
    buildCodes(lengthLengths, lengthCodes);
    buildCodes(alignedLengths, alignedCodes);

    BitWriter bits(out_);
    writeStreamHeader(bits);
    bits.put(aligned ? kBlockAligned : kBlockVerbatim, 3);
    bits.put(size, 24);
    if (aligned) {
      for (std::uint8_t length : alignedLengths) bits.put(length, 3);
    }
    writeTreeSection(bits, std::span(mainLengths).first(256), std::span(previousMain_).first(256));
    writeTreeSection(bits, std::span(mainLengths).subspan(256, mainSymbols_ - 256),
                     std::span(previousMain_).subspan(256, mainSymbols_ - 256));
    writeTreeSection(bits, lengthLengths, previousLength_);
    for (const Item& item : items_) {
      bits.put(mainCodes[item.mainSymbol], mainLengths[item.mainSymbol]);
      if (item.lengthSymbol != kNoLength) {
        bits.put(lengthCodes[item.lengthSymbol], lengthLengths[item.lengthSymbol]);
      }
      if (aligned && item.offsetBitCount >= 3) {
        bits.put(item.offsetBits >> 3, item.offsetBitCount - 3);
        const std::uint32_t low = item.offsetBits & 7;
        bits.put(alignedCodes[low], alignedLengths[low]);
      } else if (item.offsetBitCount > 0) {
        bits.put(item.offsetBits, item.offsetBitCount);
      }
    }
    bits.align();
    // Stored: the stream header, the block header, 1 to 16 bits of padding, R0-R2, the bytes.
    const std::size_t storedBytes = (headerWritten_ ? 0 : 4) + 6 + 12 + size + (size & 1);
    if (out_.size() >= storedBytes) {
      out_.clear();
      return false;
    }
    previousMain_ = mainLengths;
    previousLength_ = lengthLengths;
    updatePrices();
    return true;
  }

  void encodeUncompressed(const std::uint8_t* frame, std::uint32_t size) {
    BitWriter bits(out_);
    writeStreamHeader(bits);
    bits.put(kBlockUncompressed, 3);
    bits.put(size, 24);
    if (bits.aligned()) bits.put(0, 16);
    bits.align();
    for (std::uint32_t offset : repeated_) {
      out_.resize(out_.size() + 4);
      storeLe32(out_.data() + out_.size() - 4, offset);
    }
    out_.insert(out_.end(), frame, frame + size);
    if (size & 1) out_.push_back(0);
  }

  const int windowBits_;
  const std::uint32_t windowSize_;
  const std::uint32_t maxDistance_;
  const int mainSymbols_;
  std::vector<std::uint8_t> buffer_;  // the window and the frame being coded
  std::uint32_t bufferBase_ = 0;      // stream position of buffer_[0]
  std::size_t bufferLength_ = 0;
  std::vector<std::uint32_t> head_;   // hash to the last position + 1 with it, 0 for none
  std::vector<std::uint32_t> chain_;  // position to the position + 1 before it with its hash
  std::uint32_t inserted_ = 0;        // positions below this are in the hash chains
  std::uint32_t position_ = 0;        // of the next frame in the folder's data
  std::uint32_t frameStart_ = 0;
  std::int32_t translationSize_ = 0;
  bool headerWritten_ = false;
  std::array<std::uint32_t, 3> repeated_ = {1, 1, 1};
  std::array<std::uint8_t, kMaxMainSymbols> previousMain_{};
  std::array<std::uint8_t, kLengthSymbols> previousLength_{};
  std::array<int, kMaxMainSymbols> mainPrice_{};
  std::array<int, kLengthSymbols> lengthPrice_{};
  std::vector<int> literalCosts_;  // running sums of the literal prices over the frame
  std::vector<Item> items_;
  std::vector<std::uint8_t> out_;
};

}  // namespace

std::unique_ptr<BlockCompressor> makeLzxCompressor(int windowBits) {
  return std::make_unique<LzxCompressor>(windowBits);
}

std::size_t lzxCompressorMemory(int windowBits) {
  const std::size_t window = std::size_t{1} << windowBits;
  return window + std::max(kSlideSlack, window / 4) + 4 * window + (4u << kHashBits) +
         kFrameBytes * (sizeof(Item) + sizeof(int)) + 2 * kFrameBytes;
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
