#include "common/inflate_decoder.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "common/archive_error.h"
#include "common/byte_order.h"
#include "common/match_copy.h"

namespace archivers {

namespace {

// A decoding table entry, found by the next bits of the input:
//   bits 0-7    how many bits the code takes (for a link, the main table's bits)
//   bits 8-12   extra bits that follow the code (for a link, the subtable's index bits)
//   bit 13      a literal byte
//   bit 14      a link to a subtable for codes longer than the main table's index
//   bit 15      end of block (value 0) or a symbol that must not occur (value 1)
//   bits 16-31  the literal, the base length or distance, or the subtable's first entry
using Entry = std::uint32_t;
constexpr Entry kLiteral = 1u << 13;
constexpr Entry kLink = 1u << 14;
constexpr Entry kSpecial = 1u << 15;
constexpr Entry kEndOfBlock = kSpecial;
constexpr Entry kInvalid = kSpecial | 1u << 16;

constexpr unsigned kMaxCodeBits = 15;
constexpr unsigned kLitLenSymbols = 288;
constexpr unsigned kDistanceSymbols = 32;
constexpr unsigned kCodeLengthSymbols = 19;
// Main table index bits: most codes are found by one lookup, the tables stay in the L1 cache.
constexpr unsigned kLitLenBits = 11;
constexpr unsigned kDistanceBits = 8;
constexpr unsigned kCodeLengthBits = 7;
// Each symbol longer than the main index makes at most one subtable of 2^(15 - index bits).
constexpr std::size_t kLitLenTableSize =
    (std::size_t{1} << kLitLenBits) + kLitLenSymbols * (std::size_t{1} << (15 - kLitLenBits));
constexpr std::size_t kDistanceTableSize =
    (std::size_t{1} << kDistanceBits) + kDistanceSymbols * (std::size_t{1} << (15 - kDistanceBits));

constexpr std::size_t kWindow = 64 * 1024;     // the farthest distance either form reaches
constexpr std::size_t kMaxMatch = 3 + 0xFFFF;  // Deflate64's longest length
constexpr std::size_t kCopyOvershoot = 16;     // a match copy may write this far past its end
constexpr std::size_t kWindowBufferSize =
    kWindow + InflateDecoder::kPieceSize + kMaxMatch + kCopyOvershoot;
// Zero bytes a reader may take past the input's end before it counts as cut short: the bit
// buffer reads ahead, so the last code can need up to 8 of them.
constexpr std::size_t kMaxPadding = 16;

constexpr Entry entry(std::uint32_t value, unsigned extra, Entry flags = 0) {
  return value << 16 | extra << 8 | flags;
}

// What each literal/length symbol means; the two forms differ only at 285.
constexpr std::array<Entry, kLitLenSymbols> makeLitLenMeanings(InflateDecoder::Variant variant) {
  std::array<Entry, kLitLenSymbols> meanings{};
  for (std::uint32_t symbol = 0; symbol < 256; ++symbol)
    meanings[symbol] = entry(symbol, 0, kLiteral);
  meanings[256] = kEndOfBlock;
  for (std::uint32_t symbol = 257; symbol < 265; ++symbol)
    meanings[symbol] = entry(symbol - 254, 0);
  for (std::uint32_t symbol = 265; symbol < 285; ++symbol) {
    const unsigned extra = (symbol - 261) / 4;
    meanings[symbol] = entry(((4 + ((symbol - 265) & 3)) << extra) + 3, extra);
  }
  meanings[285] = variant == InflateDecoder::Variant::kDeflate64 ? entry(3, 16) : entry(258, 0);
  meanings[286] = meanings[287] = kInvalid;
  return meanings;
}

// What each distance symbol means; codes 30 and 31 exist only in Deflate64.
constexpr std::array<Entry, kDistanceSymbols> makeDistanceMeanings(
    InflateDecoder::Variant variant) {
  std::array<Entry, kDistanceSymbols> meanings{};
  for (std::uint32_t symbol = 0; symbol < 4; ++symbol) meanings[symbol] = entry(symbol + 1, 0);
  for (std::uint32_t symbol = 4; symbol < kDistanceSymbols; ++symbol) {
    const unsigned extra = symbol / 2 - 1;
    meanings[symbol] = entry(((2 + (symbol & 1)) << extra) + 1, extra);
  }
  if (variant == InflateDecoder::Variant::kDeflate) meanings[30] = meanings[31] = kInvalid;
  return meanings;
}

constexpr std::array<Entry, kCodeLengthSymbols> makeCodeLengthMeanings() {
  std::array<Entry, kCodeLengthSymbols> meanings{};
  for (std::uint32_t symbol = 0; symbol < kCodeLengthSymbols; ++symbol) {
    meanings[symbol] = entry(symbol, 0);
  }
  return meanings;
}

constexpr auto kDeflateLitLen = makeLitLenMeanings(InflateDecoder::Variant::kDeflate);
constexpr auto kDeflate64LitLen = makeLitLenMeanings(InflateDecoder::Variant::kDeflate64);
constexpr auto kDeflateDistance = makeDistanceMeanings(InflateDecoder::Variant::kDeflate);
constexpr auto kDeflate64Distance = makeDistanceMeanings(InflateDecoder::Variant::kDeflate64);
constexpr auto kCodeLengthMeaning = makeCodeLengthMeanings();

constexpr std::uint8_t kCodeLengthOrder[kCodeLengthSymbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                               11, 4,  12, 3, 13, 2, 14, 1, 15};

[[noreturn]] void damaged(const char* what) {
  throw ArchiveError(Result::kCorrupt, std::string("damaged deflate data: ") + what);
}

std::uint32_t reversed(std::uint32_t code, unsigned bits) {
  std::uint32_t result = 0;
  for (unsigned i = 0; i < bits; ++i, code >>= 1) result = result << 1 | (code & 1);
  return result;
}

// Fills table with the canonical prefix code these lengths (0: unused) give the symbols. Codes up
// to mainBits long are found by one lookup of the input's next mainBits bits; a longer code's
// first mainBits bits find a link to a subtable sized for the longest code under that prefix.
// An over-subscribed set of lengths is damage; so is an incomplete one, except the lone code of
// one bit (or none at all) that writers give a block with a single distance.
void buildTable(const std::uint8_t* lengths, unsigned count, const Entry* meanings,
                unsigned mainBits, Entry* table, std::size_t capacity) {
  unsigned perLength[kMaxCodeBits + 1] = {};
  for (unsigned symbol = 0; symbol < count; ++symbol) ++perLength[lengths[symbol]];
  perLength[0] = 0;
  int left = 1;
  unsigned used = 0;
  for (unsigned length = 1; length <= kMaxCodeBits; ++length) {
    left = left * 2 - static_cast<int>(perLength[length]);
    if (left < 0) damaged("over-subscribed code");
    used += perLength[length];
  }
  const std::size_t mainSize = std::size_t{1} << mainBits;
  if (left > 0) {
    if (used > 1 || (used == 1 && perLength[1] != 1)) damaged("incomplete code");
    std::fill_n(table, mainSize, kInvalid);
  }
  std::uint32_t nextCode[kMaxCodeBits + 2] = {};
  for (unsigned length = 1; length <= kMaxCodeBits; ++length) {
    nextCode[length + 1] = (nextCode[length] + perLength[length]) << 1;
  }
  // First pass: the longest code under each main-table prefix sizes that prefix's subtable.
  std::uint8_t longest[std::size_t{1} << kLitLenBits] = {};
  std::uint32_t codes[kLitLenSymbols];
  {
    std::uint32_t assign[kMaxCodeBits + 2];
    std::copy(std::begin(nextCode), std::end(nextCode), assign);
    for (unsigned symbol = 0; symbol < count; ++symbol) {
      const unsigned length = lengths[symbol];
      if (length == 0) continue;
      codes[symbol] = assign[length]++;
      if (length > mainBits) {
        std::uint8_t& most = longest[codes[symbol] >> (length - mainBits)];
        most = std::max<std::uint8_t>(most, static_cast<std::uint8_t>(length));
      }
    }
  }
  std::size_t end = mainSize;
  for (std::uint32_t prefix = 0; prefix < mainSize; ++prefix) {
    if (longest[prefix] == 0) continue;
    const unsigned subBits = longest[prefix] - mainBits;
    table[reversed(prefix, mainBits)] =
        entry(static_cast<std::uint32_t>(end), subBits, kLink) | mainBits;
    end += std::size_t{1} << subBits;
    if (end > capacity) damaged("code too large");  // cannot happen with lengths up to 15
  }
  for (unsigned symbol = 0; symbol < count; ++symbol) {
    const unsigned length = lengths[symbol];
    if (length == 0) continue;
    const std::uint32_t code = codes[symbol];
    if (length <= mainBits) {
      const Entry value = meanings[symbol] | length;
      for (std::size_t at = reversed(code, length); at < mainSize; at += std::size_t{1} << length) {
        table[at] = value;
      }
      continue;
    }
    const Entry link = table[reversed(code >> (length - mainBits), mainBits)];
    const unsigned subBits = (link >> 8) & 31;
    const unsigned rest = length - mainBits;
    const Entry value = meanings[symbol] | rest;
    Entry* const subtable = table + (link >> 16);
    const std::size_t subSize = std::size_t{1} << subBits;
    for (std::size_t at = reversed(code & ((1u << rest) - 1), rest); at < subSize;
         at += std::size_t{1} << rest) {
      subtable[at] = value;
    }
  }
}

}  // namespace

struct InflateDecoder::State {
  Entry litLen[kLitLenTableSize];
  Entry distance[kDistanceTableSize];
  Entry codeLength[std::size_t{1} << kCodeLengthBits];
  // The fixed block tables of the form last built, made once.
  Entry fixedLitLen[kLitLenTableSize];
  Entry fixedDistance[kDistanceTableSize];
  bool fixedBuilt = false;
  Variant fixedVariant = Variant::kDeflate;
  // Decoded output: the last 64 KiB of history at the front once it is full, then the bytes
  // not yet handed on, then room for the longest match and a copy's overshoot.
  std::unique_ptr<std::uint8_t[]> window =
      std::make_unique_for_overwrite<std::uint8_t[]>(kWindowBufferSize);
};

namespace {

// One stream's decoding: the bit reader, the output window, the block loop.
class Decoding {
 public:
  Decoding(InflateDecoder::State& state, InflateDecoder::Variant variant,
           const InflateDecoder::Source& source, const InflateDecoder::Deliver& deliver)
      : state_(state),
        variant_(variant),
        source_(source),
        deliver_(deliver),
        window_(state.window.get()),
        out_(window_),
        pending_(window_) {}

  void run() {
    for (bool last = false; !last;) {
      refill();
      last = (bits_ & 1) != 0;
      const auto type = static_cast<unsigned>(bits_ >> 1 & 3);
      consume(3);
      switch (type) {
        case 0:
          copyStoredBlock();
          break;
        case 1:
          useFixedTables();
          decodeBlock(state_.fixedLitLen, state_.fixedDistance);
          break;
        case 2:
          readDynamicTables();
          decodeBlock(state_.litLen, state_.distance);
          break;
        default:
          damaged("invalid block type");
      }
    }
    if (padding_ * 8 > count_) damaged("the stream is cut short");
    flush();
  }

 private:
  // At least 56 bits in the buffer; past the input's end, zero bytes are counted in.
  void refill() {
    if (inEnd_ - in_ >= 8) {
      bits_ |= loadLe64(in_) << count_;
      const unsigned taken = (63 - count_) >> 3;
      in_ += taken;
      count_ += taken * 8;
    } else {
      refillSlowly();
    }
  }

  // Bits above count_ are either zero or the low bits of the byte at in_, which a later load puts
  // in the same place: ORing it in again changes nothing.
  void refillSlowly() {
    while (count_ <= 56) {
      std::uint64_t byte = 0;
      if (in_ == inEnd_) {
        const std::span<const std::uint8_t> next = source_();
        in_ = next.data();
        inEnd_ = in_ + next.size();
      }
      if (in_ != inEnd_) {
        byte = *in_++;
      } else if (++padding_ > kMaxPadding) {
        damaged("the stream is cut short");
      }
      bits_ |= byte << count_;
      count_ += 8;
    }
  }

  void consume(unsigned bits) {
    bits_ >>= bits;
    count_ -= bits;
  }

  std::uint32_t take(unsigned bits) {
    const auto value = static_cast<std::uint32_t>(bits_ & ((std::uint64_t{1} << bits) - 1));
    consume(bits);
    return value;
  }

  void copyStoredBlock() {
    consume(count_ & 7);
    refill();
    const std::uint32_t length = take(16);
    if (take(16) != (~length & 0xFFFF)) damaged("stored block length mismatch");
    if (padding_ * 8 > count_) damaged("the stream is cut short");
    std::uint32_t left = length;
    // Whole bytes still in the bit buffer come first, then the input itself.
    while (left > 0 && count_ >= 8) {
      if (count_ / 8 <= padding_) damaged("the stream is cut short");
      makeRoom();
      *out_++ = static_cast<std::uint8_t>(take(8));
      --left;
    }
    if (count_ == 0) bits_ = 0;  // what is left above count_ is the byte at in_
    while (left > 0) {
      if (in_ == inEnd_) {
        const std::span<const std::uint8_t> next = source_();
        if (next.empty()) damaged("the stream is cut short");
        in_ = next.data();
        inEnd_ = in_ + next.size();
      }
      makeRoom();
      const std::size_t room = static_cast<std::size_t>(flushAt() - out_);
      const std::size_t step =
          std::min({static_cast<std::size_t>(left), static_cast<std::size_t>(inEnd_ - in_), room});
      std::memcpy(out_, in_, step);
      out_ += step;
      in_ += step;
      left -= static_cast<std::uint32_t>(step);
    }
  }

  void useFixedTables() {
    if (state_.fixedBuilt && state_.fixedVariant == variant_) return;
    std::uint8_t lengths[kLitLenSymbols + kDistanceSymbols];
    std::fill_n(lengths, 144, 8);
    std::fill_n(lengths + 144, 112, 9);
    std::fill_n(lengths + 256, 24, 7);
    std::fill_n(lengths + 280, 8, 8);
    std::fill_n(lengths + kLitLenSymbols, kDistanceSymbols, 5);
    buildTable(lengths, kLitLenSymbols, litLenMeanings(), kLitLenBits, state_.fixedLitLen,
               kLitLenTableSize);
    buildTable(lengths + kLitLenSymbols, kDistanceSymbols, distanceMeanings(), kDistanceBits,
               state_.fixedDistance, kDistanceTableSize);
    state_.fixedBuilt = true;
    state_.fixedVariant = variant_;
  }

  void readDynamicTables() {
    refill();
    const unsigned litLenCount = take(5) + 257;
    const unsigned distanceCount = take(5) + 1;
    const unsigned codeLengthCount = take(4) + 4;
    const unsigned maxDistances = variant_ == InflateDecoder::Variant::kDeflate64 ? 32 : 30;
    if (litLenCount > 286 || distanceCount > maxDistances) damaged("too many codes");
    std::uint8_t codeLengthLengths[kCodeLengthSymbols] = {};
    for (unsigned i = 0; i < codeLengthCount; ++i) {
      if (count_ < 3) refill();
      codeLengthLengths[kCodeLengthOrder[i]] = static_cast<std::uint8_t>(take(3));
    }
    buildTable(codeLengthLengths, kCodeLengthSymbols, kCodeLengthMeaning.data(), kCodeLengthBits,
               state_.codeLength, std::size(state_.codeLength));
    std::uint8_t lengths[kLitLenSymbols + kDistanceSymbols];
    const unsigned total = litLenCount + distanceCount;
    for (unsigned i = 0; i < total;) {
      if (count_ < kCodeLengthBits + 7) refill();
      const Entry found = state_.codeLength[bits_ & ((1u << kCodeLengthBits) - 1)];
      if ((found & kSpecial) != 0) damaged("invalid code length code");
      consume(found & 0xFF);
      const unsigned symbol = found >> 16;
      if (symbol < 16) {
        lengths[i++] = static_cast<std::uint8_t>(symbol);
        continue;
      }
      std::uint8_t value = 0;
      unsigned repeat = 0;
      if (symbol == 16) {
        if (i == 0) damaged("repeat with nothing before it");
        value = lengths[i - 1];
        repeat = 3 + take(2);
      } else if (symbol == 17) {
        repeat = 3 + take(3);
      } else {
        repeat = 11 + take(7);
      }
      if (repeat > total - i) damaged("code lengths run past their count");
      std::fill_n(lengths + i, repeat, value);
      i += repeat;
    }
    if (lengths[256] == 0) damaged("no end-of-block code");
    buildTable(lengths, litLenCount, litLenMeanings(), kLitLenBits, state_.litLen,
               kLitLenTableSize);
    buildTable(lengths + litLenCount, distanceCount, distanceMeanings(), kDistanceBits,
               state_.distance, kDistanceTableSize);
  }

  const Entry* litLenMeanings() const {
    return variant_ == InflateDecoder::Variant::kDeflate64 ? kDeflate64LitLen.data()
                                                           : kDeflateLitLen.data();
  }

  const Entry* distanceMeanings() const {
    return variant_ == InflateDecoder::Variant::kDeflate64 ? kDeflate64Distance.data()
                                                           : kDeflateDistance.data();
  }

  // The entry for the next code: one lookup, or two for a code longer than the main index.
  static Entry lookup(const Entry* table, unsigned mainBits, std::uint64_t& bits, unsigned& count) {
    Entry found = table[bits & ((std::uint64_t{1} << mainBits) - 1)];
    if ((found & kLink) != 0) {
      bits >>= mainBits;
      count -= mainBits;
      found = table[(found >> 16) + (bits & ((std::uint64_t{1} << ((found >> 8) & 31)) - 1))];
    }
    return found;
  }

  // The hot loop keeps the bit buffer and output position in locals, so they stay in registers.
  void decodeBlock(const Entry* litLen, const Entry* distances) {
    std::uint64_t bits = bits_;
    unsigned count = count_;
    const std::uint8_t* in = in_;
    std::uint8_t* out = out_;
    const auto sync = [&] {
      bits_ = bits;
      count_ = count;
      in_ = in;
      out_ = out;
    };
    const auto load = [&] {
      bits = bits_;
      count = count_;
      in = in_;
      out = out_;
    };
    const auto refillLocal = [&] {
      if (inEnd_ - in >= 8) {
        bits |= loadLe64(in) << count;
        const unsigned taken = (63 - count) >> 3;
        in += taken;
        count += taken * 8;
      } else {
        sync();
        refillSlowly();
        load();
      }
    };
    std::uint8_t* limit = flushAt();
    for (;;) {
      if (out >= limit) {
        sync();
        makeRoom();
        load();
        limit = flushAt();
      }
      refillLocal();
      Entry found = lookup(litLen, kLitLenBits, bits, count);
      if ((found & kLiteral) != 0) {
        // Up to two more literals fit in the bits already there (each code is at most 15 bits).
        bits >>= found & 0xFF;
        count -= found & 0xFF;
        *out++ = static_cast<std::uint8_t>(found >> 16);
        found = lookup(litLen, kLitLenBits, bits, count);
        if ((found & kLiteral) != 0) {
          bits >>= found & 0xFF;
          count -= found & 0xFF;
          *out++ = static_cast<std::uint8_t>(found >> 16);
          continue;
        }
      }
      if ((found & kSpecial) != 0) {
        if (found != (kEndOfBlock | (found & 0xFF))) damaged("invalid literal/length code");
        bits >>= found & 0xFF;
        count -= found & 0xFF;
        break;
      }
      {
        const unsigned codeBits = found & 0xFF;
        const unsigned extra = (found >> 8) & 31;
        const std::size_t length =
            (found >> 16) + ((bits >> codeBits) & ((std::uint64_t{1} << extra) - 1));
        bits >>= codeBits + extra;
        count -= codeBits + extra;
        if (count < 32) refillLocal();  // a distance code and its extra bits take up to 29
        found = lookup(distances, kDistanceBits, bits, count);
        if ((found & kSpecial) != 0) damaged("invalid distance code");
        const unsigned distanceCodeBits = found & 0xFF;
        const unsigned distanceExtra = (found >> 8) & 31;
        const std::size_t distance = (found >> 16) + ((bits >> distanceCodeBits) &
                                                      ((std::uint64_t{1} << distanceExtra) - 1));
        bits >>= distanceCodeBits + distanceExtra;
        count -= distanceCodeBits + distanceExtra;
        if (distance > static_cast<std::size_t>(out - window_)) {
          damaged("distance before the start of the output");
        }
        copyMatch(out, distance, length);
        out += length;
      }
    }
    sync();
  }

  std::uint8_t* flushAt() const { return window_ + kWindow + InflateDecoder::kPieceSize; }

  // Hands on a full window's output and keeps the last 64 KiB for the matches to come.
  void makeRoom() {
    if (out_ < flushAt()) return;
    flush();
    std::memmove(window_, out_ - kWindow, kWindow);
    out_ = pending_ = window_ + kWindow;
  }

  void flush() {
    while (pending_ < out_) {
      const auto step =
          std::min(static_cast<std::size_t>(out_ - pending_), InflateDecoder::kPieceSize);
      deliver_(pending_, step);
      pending_ += step;
    }
  }

  InflateDecoder::State& state_;
  const InflateDecoder::Variant variant_;
  const InflateDecoder::Source& source_;
  const InflateDecoder::Deliver& deliver_;
  std::uint64_t bits_ = 0;
  unsigned count_ = 0;
  const std::uint8_t* in_ = nullptr;
  const std::uint8_t* inEnd_ = nullptr;
  std::size_t padding_ = 0;  // zero bytes counted in past the input's end
  std::uint8_t* const window_;
  std::uint8_t* out_;
  std::uint8_t* pending_;  // the first byte decoded but not yet handed on
};

}  // namespace

InflateDecoder::InflateDecoder() = default;
InflateDecoder::~InflateDecoder() = default;

void InflateDecoder::decode(Variant variant, const Source& source, const Deliver& deliver) {
  if (!state_) state_ = std::make_unique_for_overwrite<State>();
  Decoding(*state_, variant, source, deliver).run();
}

}  // namespace archivers
