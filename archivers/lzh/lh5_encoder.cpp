#include "lzh/lh5_encoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

#include "common/crc.h"
#include "common/match_length.h"
#include "common/prefix_code.h"

namespace archivers::lzh {
namespace {

constexpr unsigned kWindow = 8192;  // the furthest back a match may reach
constexpr unsigned kMinMatch = 3;
constexpr unsigned kMaxMatch = 256;
constexpr unsigned kCharCodes = 510;  // 256 literals and lengths 3..256
constexpr unsigned kCharCountBits = 9;
constexpr unsigned kPositionCodes = 14;  // distance bit lengths 0..13
constexpr unsigned kPositionCountBits = 4;
constexpr unsigned kPreCodes = 19;  // character code lengths 1..16 as 3..18, and 3 zero-run codes
constexpr unsigned kPreCountBits = 5;
constexpr unsigned kPreZeroRunAfter = 3;
// Blocks end after this many symbols (the count is sent in 16 bits). Shorter blocks follow
// changing content more closely; on mixed trees about 12K did best, 64K was 0.4% larger.
constexpr std::size_t kBlockSymbols = 12 * 1024;

// Match finder: hash chains over three bytes, searched to a bounded depth, with one step of lazy
// evaluation.
constexpr unsigned kHashBits = 15;
constexpr std::size_t kChainSize = 2 * kWindow;  // a position's link outlives the window
constexpr unsigned kMaxChain = 256;
constexpr unsigned kGoodLength = 16;   // after a match this long, search a quarter of the chain
constexpr unsigned kLazyLength = 64;   // a match this long is taken without looking one further
constexpr unsigned kNiceLength = 256;  // a match this long ends the search
// A 3-byte match further back than this costs more bits than its three literals.
constexpr unsigned kTooFar = 4096;
constexpr std::int32_t kNoPosition = -(1 << 30);

// The input buffer: the window behind the cursor, the bytes ahead of it. When full, its first
// kSlide bytes are dropped; a multiple of kChainSize keeps every chain link's slot.
constexpr std::size_t kSlide = 128 * 1024;
constexpr std::size_t kBufferSize = kSlide + 2 * kWindow;
constexpr std::size_t kLookahead = kMaxMatch + 1;  // a match and the lazy step's one byte more
constexpr std::size_t kPadding = 8;                // the hash reads a word at the last bytes

constexpr std::size_t kOutputBuffer = 64 * 1024;

static_assert(kSlide % kChainSize == 0);
static_assert(kBufferSize - kLookahead >= kSlide + kWindow);

// Writes a stream most significant bit first, as the decoder reads it.
class BitWriter {
 public:
  explicit BitWriter(ByteSink& sink)
      : sink_(sink), buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(kOutputBuffer + 8)) {}

  // The low width bits of value; width <= 32.
  void put(std::uint32_t value, unsigned width) {
    bits_ = (bits_ << width) | value;
    count_ += width;
    if (count_ >= 32) {
      count_ -= 32;
      const std::uint32_t word = __builtin_bswap32(static_cast<std::uint32_t>(bits_ >> count_));
      std::memcpy(buffer_.get() + used_, &word, sizeof word);
      used_ += sizeof word;
      if (used_ >= kOutputBuffer) drain();
    }
  }

  // Pads the last byte with zero bits and hands everything over; returns the bytes written.
  std::uint64_t finish() {
    put(0, (8 - count_ % 8) % 8);
    for (; count_ > 0; count_ -= 8) {
      buffer_[used_++] = static_cast<std::uint8_t>(bits_ >> (count_ - 8));
    }
    drain();
    return written_;
  }

 private:
  void drain() {
    if (used_ > 0) sink_.write(buffer_.get(), used_);
    written_ += used_;
    used_ = 0;
  }

  ByteSink& sink_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t used_ = 0;
  std::uint64_t bits_ = 0;  // the low count_ bits are pending
  unsigned count_ = 0;
  std::uint64_t written_ = 0;
};

// The code of a match's distance: its bit length, then the bits below the leading one.
inline unsigned positionSymbol(unsigned offset) {
  return static_cast<unsigned>(std::bit_width(offset));
}

class Encoder {
 public:
  Encoder(ByteSource& input, ByteSink& output)
      : input_(input),
        bits_(output),
        buffer_(std::make_unique<std::uint8_t[]>(kBufferSize + kPadding)),
        head_(std::make_unique_for_overwrite<std::int32_t[]>(std::size_t{1} << kHashBits)),
        chain_(std::make_unique_for_overwrite<std::int32_t[]>(kChainSize)),
        characters_(std::make_unique_for_overwrite<std::uint16_t[]>(kBlockSymbols)),
        offsets_(std::make_unique_for_overwrite<std::uint16_t[]>(kBlockSymbols)) {
    std::fill_n(head_.get(), std::size_t{1} << kHashBits, kNoPosition);
    std::fill_n(chain_.get(), kChainSize, kNoPosition);
  }

  Lh5Result run() {
    fill();
    for (;;) {
      compressUntil(ended_ ? end_ : end_ - kLookahead);
      if (ended_) break;
      fill();
    }
    if (pendingLiteral_) addLiteral(buffer_[position_ - 1]);
    if (symbols_ > 0) writeBlock(true);
    result_.compressedSize = bits_.finish();
    return result_;
  }

 private:
  // Tops the buffer up, dropping its oldest bytes first when it is full.
  void fill() {
    if (end_ == kBufferSize) slide();
    while (!ended_ && end_ < kBufferSize) {
      const std::size_t got = input_.read(buffer_.get() + end_, kBufferSize - end_);
      ended_ = got == 0;
      result_.crc = crc16(result_.crc, buffer_.get() + end_, got);
      result_.originalSize += got;
      end_ += got;
    }
  }

  void slide() {
    std::memmove(buffer_.get(), buffer_.get() + kSlide, end_ - kSlide);
    end_ -= kSlide;
    position_ -= kSlide;
    constexpr auto shift = static_cast<std::int32_t>(kSlide);
    auto rebase = [](std::int32_t& position) {
      position = position >= shift ? position - shift : kNoPosition;
    };
    std::for_each(head_.get(), head_.get() + (std::size_t{1} << kHashBits), rebase);
    std::for_each(chain_.get(), chain_.get() + kChainSize, rebase);
  }

  std::uint32_t hashAt(std::size_t position) const {
    std::uint32_t word;
    std::memcpy(&word, buffer_.get() + position, sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap32(word);
    return ((word & 0xFFFFFFu) * 0x9E3779B1u) >> (32 - kHashBits);
  }

  // Links position into its hash chain; returns the chain's previous head.
  std::int32_t insert(std::size_t position) {
    std::int32_t& head = head_[hashAt(position)];
    const std::int32_t previous = head;
    chain_[position % kChainSize] = previous;
    head = static_cast<std::int32_t>(position);
    return previous;
  }

  // The longest match at position_ longer than shorterThan, walking the chain from candidate.
  // Returns its length (0 when there is none) and sets distance.
  unsigned findMatch(std::int32_t candidate, unsigned shorterThan, unsigned& distance) const {
    const unsigned limit =
        static_cast<unsigned>(std::min<std::size_t>(kMaxMatch, end_ - position_));
    unsigned best = std::max(shorterThan, kMinMatch - 1);
    if (best >= limit) return 0;
    unsigned chain = shorterThan >= kGoodLength ? kMaxChain / 4 : kMaxChain;
    const std::uint8_t* const here = buffer_.get() + position_;
    const auto oldest = static_cast<std::int32_t>(position_) - static_cast<std::int32_t>(kWindow);
    unsigned found = 0;
    for (; candidate >= oldest && chain > 0; --chain) {
      const std::uint8_t* const there = buffer_.get() + candidate;
      if (there[best] == here[best] && there[0] == here[0] && there[1] == here[1]) {
        const unsigned length = matchLength(there, here, limit);
        if (length > best) {
          best = length;
          found = length;
          distance = static_cast<unsigned>(position_ - static_cast<std::size_t>(candidate));
          if (length >= kNiceLength || length == limit) break;
        }
      }
      candidate = chain_[static_cast<std::size_t>(candidate) % kChainSize];
    }
    if (found == kMinMatch && distance > kTooFar) return 0;
    return found;
  }

  // Parses the input up to stop into literals and matches. A match found at one position is held
  // back for one step: if the next position has a longer one, the first byte goes as a literal.
  void compressUntil(std::size_t stop) {
    while (position_ < stop) {
      unsigned length = 0;
      unsigned distance = 0;
      if (end_ - position_ >= kMinMatch) {
        const std::int32_t candidate = insert(position_);
        if (heldLength_ < kLazyLength) length = findMatch(candidate, heldLength_, distance);
      }
      if (heldLength_ >= kMinMatch && length <= heldLength_) {
        addMatch(heldLength_, heldDistance_);
        const std::size_t matchEnd = position_ - 1 + heldLength_;
        const std::size_t lastHashed = std::min(matchEnd, end_ - (kMinMatch - 1));
        for (std::size_t next = position_ + 1; next < lastHashed; ++next) insert(next);
        position_ = matchEnd;
        heldLength_ = 0;
        pendingLiteral_ = false;
      } else {
        if (pendingLiteral_) addLiteral(buffer_[position_ - 1]);
        pendingLiteral_ = true;
        heldLength_ = length;
        heldDistance_ = distance;
        ++position_;
      }
    }
  }

  // A full block goes out only once another symbol comes, so that the last block is known.
  void addLiteral(std::uint8_t byte) {
    if (symbols_ == kBlockSymbols) writeBlock(false);
    characters_[symbols_++] = byte;
    ++characterFrequencies_[byte];
  }

  void addMatch(unsigned length, unsigned distance) {
    if (symbols_ == kBlockSymbols) writeBlock(false);
    const unsigned character = 256 + length - kMinMatch;
    characters_[symbols_] = static_cast<std::uint16_t>(character);
    offsets_[symbols_++] = static_cast<std::uint16_t>(distance - 1);
    ++characterFrequencies_[character];
    ++positionFrequencies_[positionSymbol(distance - 1)];
  }

  // A table of one symbol: a count of 0, then the symbol.
  void writeSingle(unsigned countBits, int symbol) {
    bits_.put(0, countBits);
    bits_.put(static_cast<std::uint32_t>(symbol), countBits);
  }

  // The pre-code's and the position code's lengths: a count, then 3 bits each, 7 and above as 7
  // followed by a 1 for each step above it and a closing 0.
  template <std::size_t Symbols>
  void writeSmallLengths(const PrefixCode<Symbols>& code, unsigned countBits,
                         unsigned zeroRunAfter) {
    const unsigned count = code.usedCount();
    bits_.put(count, countBits);
    for (unsigned i = 0; i < count;) {
      const unsigned length = code.lengths[i++];
      if (length < 7) {
        bits_.put(length, 3);
      } else {
        bits_.put(7, 3);
        bits_.put(((1u << (length - 7)) - 1) << 1, length - 6);
      }
      if (i == zeroRunAfter) {
        unsigned zeros = 0;
        while (zeros < 3 && i + zeros < count && code.lengths[i + zeros] == 0) ++zeros;
        bits_.put(zeros, 2);
        i += zeros;
      }
    }
  }

  // The character code's lengths as pre-code symbols: n + 2 for a length n, 0 for one zero, 1
  // and 4 bits for 3..18 zeros, 2 and 9 bits for 20 or more. Calls emit(symbol, extra, width).
  template <typename Emit>
  void forEachLengthSymbol(const PrefixCode<kCharCodes>& code, Emit emit) {
    const unsigned count = code.usedCount();
    for (unsigned i = 0; i < count;) {
      if (code.lengths[i] != 0) {
        emit(code.lengths[i++] + 2u, 0u, 0u);
        continue;
      }
      unsigned zeros = 1;
      while (i + zeros < count && code.lengths[i + zeros] == 0) ++zeros;
      i += zeros;
      if (zeros <= 2) {
        for (unsigned n = 0; n < zeros; ++n) emit(0u, 0u, 0u);
      } else if (zeros <= 18) {
        emit(1u, zeros - 3, 4u);
      } else if (zeros == 19) {
        emit(0u, 0u, 0u);
        emit(1u, 15u, 4u);
      } else {
        emit(2u, zeros - 20, kCharCountBits);
      }
    }
  }

  // A code of one symbol codes it in no bits. jlha loses a last symbol read in no bits when the
  // data ends on a byte boundary right after it, so in the last block such a code gets a second
  // symbol, never used, and each of its symbols takes a bit.
  template <std::size_t Symbols>
  static void addSecondSymbol(std::array<std::uint32_t, Symbols>& frequencies) {
    if (std::count_if(frequencies.begin(), frequencies.end(), [](auto f) { return f != 0; }) == 1) {
      frequencies[frequencies[0] == 0 ? 0 : 1] = 1;
    }
  }

  void writeBlock(bool last) {
    bits_.put(static_cast<std::uint32_t>(symbols_), 16);
    if (last) {
      addSecondSymbol(characterFrequencies_);
      addSecondSymbol(positionFrequencies_);
    }

    const int singleCharacter = characterCode_.build(characterFrequencies_);
    if (singleCharacter >= 0) {
      writeSingle(kPreCountBits, 0);
      writeSingle(kCharCountBits, singleCharacter);
    } else {
      std::array<std::uint32_t, kPreCodes> preFrequencies{};
      forEachLengthSymbol(characterCode_,
                          [&](unsigned symbol, unsigned, unsigned) { ++preFrequencies[symbol]; });
      const int singlePre = preCode_.build(preFrequencies);
      if (singlePre >= 0) {
        writeSingle(kPreCountBits, singlePre);
      } else {
        writeSmallLengths(preCode_, kPreCountBits, kPreZeroRunAfter);
      }
      bits_.put(characterCode_.usedCount(), kCharCountBits);
      forEachLengthSymbol(characterCode_, [&](unsigned symbol, unsigned extra, unsigned width) {
        bits_.put(preCode_.codes[symbol], preCode_.lengths[symbol]);
        bits_.put(extra, width);
      });
    }

    const int singlePosition = positionCode_.build(positionFrequencies_);
    if (singlePosition >= 0) {
      writeSingle(kPositionCountBits, singlePosition);
    } else {
      writeSmallLengths(positionCode_, kPositionCountBits, 0);
    }

    for (std::size_t n = 0; n < symbols_; ++n) {
      const unsigned character = characters_[n];
      bits_.put(characterCode_.codes[character], characterCode_.lengths[character]);
      if (character < 256) continue;
      const unsigned offset = offsets_[n];
      const unsigned symbol = positionSymbol(offset);
      const unsigned codeLength = positionCode_.lengths[symbol];
      if (symbol <= 1) {
        bits_.put(positionCode_.codes[symbol], codeLength);
      } else {
        const unsigned extraBits = symbol - 1;
        bits_.put((static_cast<std::uint32_t>(positionCode_.codes[symbol]) << extraBits) |
                      (offset - (1u << extraBits)),
                  codeLength + extraBits);
      }
    }

    symbols_ = 0;
    characterFrequencies_.fill(0);
    positionFrequencies_.fill(0);
  }

  ByteSource& input_;
  BitWriter bits_;
  Lh5Result result_;

  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t position_ = 0;               // the next byte to parse
  std::size_t end_ = 0;                    // the end of the bytes read
  bool ended_ = false;                     // the input has no more
  std::unique_ptr<std::int32_t[]> head_;   // by hash: the latest position, or kNoPosition
  std::unique_ptr<std::int32_t[]> chain_;  // by position: the one before it with the same hash

  // The match found at position_ - 1, waiting for the lazy step; pendingLiteral_ when that
  // position's byte is not yet sent.
  unsigned heldLength_ = 0;
  unsigned heldDistance_ = 0;
  bool pendingLiteral_ = false;

  // The block being collected: characters (literals and match lengths) and each match's offset.
  std::unique_ptr<std::uint16_t[]> characters_;
  std::unique_ptr<std::uint16_t[]> offsets_;
  std::size_t symbols_ = 0;
  std::array<std::uint32_t, kCharCodes> characterFrequencies_{};
  std::array<std::uint32_t, kPositionCodes> positionFrequencies_{};
  PrefixCode<kCharCodes> characterCode_;
  PrefixCode<kPreCodes> preCode_;
  PrefixCode<kPositionCodes> positionCode_;
};

}  // namespace

Lh5Result encodeLh5(ByteSource& input, ByteSink& output) {
  return std::make_unique<Encoder>(input, output)->run();
}

}  // namespace archivers::lzh
