#include "arj/arj_decoder.h"

#include <array>

#include "arj/huffman_table.h"
#include "common/archive_error.h"

namespace archivers::arj {

namespace {

constexpr unsigned kMinMatch = 3;
constexpr unsigned kCharCodes = 510;  // 256 literals and lengths 3..256
constexpr unsigned kCharCountBits = 9;
constexpr unsigned kPositionCodes = 17;  // distance bit lengths 0..16
constexpr unsigned kPositionCountBits = 5;
constexpr unsigned kPreCodes = 19;  // lengths 0..16 of the character code plus 3 zero runs
constexpr unsigned kPreCountBits = 5;
constexpr unsigned kPreZeroRunAfter = 3;  // after the third pre-code length, a 2-bit run of zeros

[[noreturn]] void corrupt(const char* what) {
  throw ArchiveError(Result::kCorrupt, what);
}

class BlockDecoder {
 public:
  BlockDecoder(ByteSource& input, std::uint64_t originalSize, ByteSink& sink)
      : bits_(input), window_(sink, originalSize) {}

  void run() {
    while (window_.remaining() > 0) {
      if (blockLeft_ == 0) readBlockHeader();
      --blockLeft_;
      const std::uint16_t symbol = charTable_.decode(bits_);
      if (symbol < 256) {
        window_.literal(static_cast<std::uint8_t>(symbol));
      } else {
        const std::uint32_t length = symbol - 256 + kMinMatch;
        window_.copy(readDistance(), length);
      }
    }
    window_.finish();
  }

 private:
  void readBlockHeader() {
    blockLeft_ = bits_.read(16);
    if (blockLeft_ == 0) corrupt("empty compressed block");
    readSmallLengths(kPreCodes, kPreCountBits, kPreZeroRunAfter, preTable_);
    readCharLengths();
    readSmallLengths(kPositionCodes, kPositionCountBits, 0, positionTable_);
  }

  // The pre-code and the position code: a count, then each length as 3 bits, 7 extended by a
  // run of 1 bits ended by a 0.
  void readSmallLengths(unsigned symbols, unsigned countBits, unsigned zeroRunAfter,
                        HuffmanTable& table) {
    const unsigned count = bits_.read(countBits);
    if (count == 0) {
      const unsigned symbol = bits_.read(countBits);
      if (symbol >= symbols) corrupt("bad code table");
      table.setSingle(static_cast<std::uint16_t>(symbol));
      return;
    }
    if (count > symbols) corrupt("bad code table");
    std::array<std::uint8_t, kPreCodes> lengths{};
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
    const unsigned count = bits_.read(kCharCountBits);
    if (count == 0) {
      const unsigned symbol = bits_.read(kCharCountBits);
      if (symbol >= kCharCodes) corrupt("bad code table");
      charTable_.setSingle(static_cast<std::uint16_t>(symbol));
      return;
    }
    if (count > kCharCodes) corrupt("bad code table");
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

  std::uint32_t readDistance() {
    const unsigned bitsInDistance = positionTable_.decode(bits_);
    std::uint32_t offset = bitsInDistance;
    if (bitsInDistance > 1) {
      offset = (1u << (bitsInDistance - 1)) + bits_.read(bitsInDistance - 1);
    }
    return offset + 1;
  }

  BitReader bits_;
  SlidingWindow window_;
  std::uint32_t blockLeft_ = 0;
  HuffmanTable preTable_;
  HuffmanTable charTable_;
  HuffmanTable positionTable_;
};

}  // namespace

void decodeHuffmanMethod(ByteSource& input, std::uint64_t originalSize, ByteSink& sink) {
  BlockDecoder(input, originalSize, sink).run();
}

}  // namespace archivers::arj
