#include "common/lz_huffman_decoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "common/archive_error.h"
#include "common/lz_huffman_table.h"
#include "common/match_copy.h"

namespace archivers::lz {

namespace {

constexpr unsigned kMinMatch = 3;
constexpr unsigned kMaxMatch = 256;
constexpr unsigned kCharCodes = 510;  // 256 literals and lengths 3..256
constexpr unsigned kCharCountBits = 9;
constexpr unsigned kMaxPositionCodes = 17;  // distance bit lengths 0..16
constexpr unsigned kPreCodes = 19;          // lengths 0..16 of the character code plus 3 zero runs
constexpr unsigned kPreCountBits = 5;
constexpr unsigned kPreZeroRunAfter = 3;  // after the third pre-code length, a 2-bit run of zeros

constexpr unsigned kCharLookupBits = 12;
constexpr unsigned kSmallLookupBits = 8;

// The output buffer: the history a match may reach into, then the bytes decoded since the last
// flush, then room for a match that starts just before the flush point and for copies that write
// a few bytes past their end.
constexpr std::size_t kHistory = 64 * 1024;
constexpr std::size_t kFlushAt = kHistory + 256 * 1024;
constexpr std::size_t kBufferSize = kFlushAt + kMaxMatch + 32;

[[noreturn]] void corrupt(const char* what) {
  throw ArchiveError(Result::kCorrupt, what);
}

class BlockDecoder {
 public:
  BlockDecoder(ByteSource& input, std::uint64_t originalSize, ByteSink& sink,
               const LzHuffmanFormat& format)
      : format_(format),
        bits_(input),
        sink_(sink),
        remaining_(originalSize),
        buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(kBufferSize)),
        preTable_(kSmallLookupBits),
        charTable_(kCharLookupBits),
        positionTable_(kSmallLookupBits) {
    if (format.positionCodes > kMaxPositionCodes) corrupt("bad position code");
    if (format.dictionarySize > kHistory) corrupt("dictionary too large");
    // Only bytes already decoded are read, or the spaces a match reaching before the start sees.
    floor_ = kHistory;
    if (format.spacesBeforeStart) {
      floor_ -= format.dictionarySize;
      std::fill_n(buffer_.get() + floor_, format.dictionarySize, ' ');
    }
  }

  void run() {
    while (remaining_ > 0) {
      if (blockLeft_ == 0) readBlockHeader();
      decodeSymbols();
      if (position_ >= kFlushAt) flush();
    }
    flush();
    bits_.checkOverrun();
  }

 private:
  // Decodes until the block ends, the output is complete or the buffer is due to be flushed.
  void decodeSymbols() {
    std::uint8_t* const base = buffer_.get();
    std::uint8_t* const start = base + position_;
    std::uint8_t* out = start;
    const std::size_t room = kFlushAt - position_;
    std::uint8_t* const stop = start + std::min<std::uint64_t>(room, remaining_);
    // No match may run past the output's end; one starting before stop cannot pass this anyway.
    std::uint8_t* const limit = start + std::min<std::uint64_t>(room + kMaxMatch, remaining_);
    const std::uint8_t* const floor = base + floor_;
    const std::size_t dictionary = format_.dictionarySize;
    const bool clipsLastMatch = format_.clipsLastMatch;
    std::uint32_t blockLeft = blockLeft_;

    BitState bits = bits_.state();
    while (blockLeft > 0 && out < stop) {
      if (!bits.refillFast()) {
        bits_.state() = bits;
        bits_.refill();
        bits = bits_.state();
      }
      --blockLeft;
      const std::uint16_t symbol = charTable_.decode(bits);
      if (symbol < 256) {
        *out++ = static_cast<std::uint8_t>(symbol);
      } else {
        const unsigned distanceBits = positionTable_.decode(bits);
        std::size_t distance = distanceBits + 1u;
        if (distanceBits > 1) {
          const unsigned extra = distanceBits - 1;
          distance = (std::size_t{1} << extra) + bits.top(extra) + 1;
          bits.consume(extra);
        }
        if (distance > dictionary || distance > static_cast<std::size_t>(out - floor)) {
          bits_.state() = bits;
          corrupt("back-reference out of range");
        }
        std::size_t length = symbol - 256u + kMinMatch;
        if (length > static_cast<std::size_t>(limit - out)) {
          // Only the output's end is that close: a match from before stop stays within the buffer.
          if (!clipsLastMatch) {
            bits_.state() = bits;
            corrupt("data longer than stated");
          }
          length = static_cast<std::size_t>(limit - out);
        }
        copyMatch(out, distance, length);
        out += length;
      }
      if (bits.overrun()) {
        bits_.state() = bits;
        bits_.checkOverrun();
      }
    }
    bits_.state() = bits;
    blockLeft_ = blockLeft;
    const std::size_t produced = static_cast<std::size_t>(out - start);
    position_ += produced;
    remaining_ -= produced;
  }

  // Hands the new bytes to the sink and keeps the last kHistory of them in front.
  void flush() {
    std::uint8_t* const base = buffer_.get();
    if (position_ > kHistory) sink_.write(base + kHistory, position_ - kHistory);
    std::memmove(base, base + position_ - kHistory, kHistory);
    position_ = kHistory;
    floor_ = 0;
  }

  void readBlockHeader() {
    blockLeft_ = bits_.read(16);
    if (blockLeft_ == 0) corrupt("empty compressed block");
    readSmallLengths(kPreCodes, kPreCountBits, kPreZeroRunAfter, preTable_);
    readCharLengths();
    readSmallLengths(format_.positionCodes, format_.positionCountBits, 0, positionTable_);
  }

  // How many code lengths follow; a count of 0 makes the table one symbol, read next.
  unsigned readCodeCount(unsigned symbols, unsigned countBits, HuffmanTable& table) {
    const unsigned count = bits_.read(countBits);
    if (count == 0) {
      const unsigned symbol = bits_.read(countBits);
      if (symbol >= symbols) corrupt("bad code table");
      table.setSingle(static_cast<std::uint16_t>(symbol));
    } else if (count > symbols) {
      corrupt("bad code table");
    }
    return count;
  }

  // The pre-code and the position code: a count, then each length as 3 bits, 7 extended by a
  // run of 1 bits ended by a 0.
  void readSmallLengths(unsigned symbols, unsigned countBits, unsigned zeroRunAfter,
                        HuffmanTable& table) {
    const unsigned count = readCodeCount(symbols, countBits, table);
    if (count == 0) return;
    std::array<std::uint8_t, std::max(kPreCodes, kMaxPositionCodes)> lengths{};
    unsigned i = 0;
    while (i < count) {
      unsigned length = bits_.read(3);
      if (length == 7) {
        while (bits_.read(1) == 1) {
          if (++length > HuffmanTable::kMaxLength) corrupt("bad code length");
        }
      }
      lengths[i++] = static_cast<std::uint8_t>(length);
      if (i == zeroRunAfter) {
        // The run may reach past count when the code ends right there.
        i += bits_.read(2);
        if (i > symbols) corrupt("bad code table");
      }
    }
    table.build(std::span<const std::uint8_t>(lengths.data(), symbols));
  }

  // The character code, its lengths sent through the pre-code: 0 one zero, 1 a run of 3..18
  // zeros, 2 a run of 20..531 zeros, n >= 3 a length of n - 2.
  void readCharLengths() {
    const unsigned count = readCodeCount(kCharCodes, kCharCountBits, charTable_);
    if (count == 0) return;
    std::array<std::uint8_t, kCharCodes> lengths{};
    unsigned i = 0;
    while (i < count) {
      const unsigned code = preTable_.decode(bits_);
      if (code <= 2) {
        unsigned zeros = 1;
        if (code == 1) zeros = bits_.read(4) + 3;
        if (code == 2) zeros = bits_.read(kCharCountBits) + 20;
        if (zeros > kCharCodes - i) corrupt("bad code table");
        i += zeros;
      } else {
        lengths[i++] = static_cast<std::uint8_t>(code - 2);
      }
    }
    charTable_.build(lengths);
  }

  const LzHuffmanFormat format_;
  BitReader bits_;
  ByteSink& sink_;
  std::uint64_t remaining_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t position_ = kHistory;  // where the next byte goes
  std::size_t floor_;                // the first byte a match may read
  std::uint32_t blockLeft_ = 0;
  HuffmanTable preTable_;
  HuffmanTable charTable_;
  HuffmanTable positionTable_;
};

}  // namespace

void decodeLzHuffman(ByteSource& input, std::uint64_t originalSize, ByteSink& sink,
                     const LzHuffmanFormat& format) {
  BlockDecoder(input, originalSize, sink, format).run();
}

}  // namespace archivers::lz
