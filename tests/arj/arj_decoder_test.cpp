// The decoders on hand-made bit streams: the block layout, back-references, and input that must
// be refused rather than trusted.
#include "arj/arj_decoder.h"

#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <string>
#include <vector>

#include "arj/arj_fastest.h"
#include "common/archive_error.h"
#include "common/lz_huffman_decoder.h"

namespace {

using archivers::ByteSink;
using archivers::MemorySource;

class BitWriter {
 public:
  BitWriter& put(std::uint32_t value, unsigned count) {
    for (unsigned bit = count; bit-- > 0;) {
      if (used_ % 8 == 0) bytes_.push_back(0);
      if ((value >> bit) & 1) bytes_.back() |= static_cast<std::uint8_t>(0x80 >> (used_ % 8));
      ++used_;
    }
    return *this;
  }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  unsigned used_ = 0;
};

struct StringSink : ByteSink {
  std::string data;
  void write(const std::uint8_t* bytes, std::size_t size) override {
    data.append(reinterpret_cast<const char*>(bytes), size);
  }
};

using Decoder = void (*)(archivers::ByteSource&, std::uint64_t, ByteSink&);

std::string decode(Decoder decoder, const BitWriter& stream, std::uint64_t size) {
  MemorySource source(stream.bytes().data(), stream.bytes().size());
  StringSink sink;
  decoder(source, size, sink);
  return sink.data;
}

void expectCorrupt(Decoder decoder, const BitWriter& stream, std::uint64_t size) {
  try {
    decode(decoder, stream, size);
    ADD_FAILURE() << "no error";
  } catch (const archivers::ArchiveError& error) {
    EXPECT_EQ(error.result(), archivers::Result::kCorrupt) << error.what();
  }
}

// Method 4: a 0 bit then 8 bits is a literal; "100" is length 3; "0" and 9 bits a distance.
BitWriter literalThenMatch(std::uint32_t distanceCode) {
  BitWriter stream;
  stream.put(0, 1).put('a', 8);
  stream.put(0b100, 3).put(0, 1).put(distanceCode, 9);
  return stream;
}

TEST(ArjFastestDecoder, CopiesAnOverlappingMatch) {
  EXPECT_EQ(decode(archivers::arj::decodeFastestMethod, literalThenMatch(0), 4), "aaaa");
}

TEST(ArjFastestDecoder, RefusesBadStreams) {
  // A distance of 2 reaches before the first byte.
  expectCorrupt(archivers::arj::decodeFastestMethod, literalThenMatch(1), 4);
  // The match would run past the stated size.
  expectCorrupt(archivers::arj::decodeFastestMethod, literalThenMatch(0), 3);
  // The data ends before the stated size is reached.
  expectCorrupt(archivers::arj::decodeFastestMethod, literalThenMatch(0), 40);
}

// A method 1-3 block whose three codes each hold a single symbol, so that symbols cost no bits.
// The position code's count is positionBits wide (5 for ARJ, 4 for LZH -lh4- and -lh5-).
void singleSymbolBlock(BitWriter& stream, std::uint16_t blockSize, unsigned charSymbol,
                       unsigned positionSymbol = 0, unsigned positionBits = 5) {
  stream.put(blockSize, 16);
  stream.put(0, 5).put(0, 5);                                     // pre-code: a single symbol
  stream.put(0, 9).put(charSymbol, 9);                            // character code: a single symbol
  stream.put(0, positionBits).put(positionSymbol, positionBits);  // 0: distance 1
}

TEST(ArjHuffmanDecoder, ReadsConsecutiveBlocks) {
  BitWriter stream;
  singleSymbolBlock(stream, 1, 'A');
  singleSymbolBlock(stream, 2, 256);  // length 3 at distance 1, twice
  EXPECT_EQ(decode(archivers::arj::decodeHuffmanMethod, stream, 7), "AAAAAAA");
}

TEST(ArjHuffmanDecoder, RefusesBadTables) {
  const std::vector<std::function<void(BitWriter&)>> streams = {
      // An empty block.
      [](BitWriter& s) { singleSymbolBlock(s, 0, 'A'); },
      // More pre-code lengths than symbols.
      [](BitWriter& s) { s.put(1, 16).put(20, 5); },
      // A pre-code with three 1-bit codes.
      [](BitWriter& s) { s.put(1, 16).put(3, 5).put(1, 3).put(1, 3).put(1, 3).put(0, 2); },
      // A single character symbol past the last one.
      [](BitWriter& s) { s.put(1, 16).put(0, 5).put(0, 5).put(0, 9).put(510, 9); },
      // A single pre-code symbol past the last one.
      [](BitWriter& s) { s.put(1, 16).put(0, 5).put(19, 5); },
      // A back-reference before the first byte.
      [](BitWriter& s) { singleSymbolBlock(s, 1, 256); },
      // The data ends before the stated size.
      [](BitWriter& s) { singleSymbolBlock(s, 1, 'A'); },
  };
  for (std::size_t i = 0; i < streams.size(); ++i) {
    SCOPED_TRACE(i);
    BitWriter stream;
    streams[i](stream);
    expectCorrupt(archivers::arj::decodeHuffmanMethod, stream, 3);
  }
}

// The same decoder set up for LZH and ARJ, on what tells the set-ups apart.
std::string decodeAs(const archivers::lz::LzHuffmanFormat& format, const BitWriter& stream,
                     std::uint64_t size) {
  MemorySource source(stream.bytes().data(), stream.bytes().size());
  StringSink sink;
  archivers::lz::decodeLzHuffman(source, size, sink, format);
  return sink.data;
}

bool refusedAs(const archivers::lz::LzHuffmanFormat& format, const BitWriter& stream,
               std::uint64_t size) {
  try {
    decodeAs(format, stream, size);
    return false;
  } catch (const archivers::ArchiveError& error) {
    EXPECT_EQ(error.result(), archivers::Result::kCorrupt) << error.what();
    return true;
  }
}

// One match of 3 bytes whose distance has the given bit length, its extra bits all zero.
BitWriter matchWithDistanceCode(unsigned positionSymbol, unsigned positionBits) {
  BitWriter stream;
  singleSymbolBlock(stream, 1, 256, positionSymbol, positionBits);
  if (positionSymbol > 1) stream.put(0, positionSymbol - 1);
  return stream;
}

TEST(LzHuffmanDecoder, LhMatchesBeforeTheStartReadSpacesUpToTheDictionary) {
  using archivers::lz::kLh4;
  using archivers::lz::kLh5;
  // Distance 1 and distance 4097 (bit length 13) both reach before the first byte.
  EXPECT_EQ(decodeAs(kLh5, matchWithDistanceCode(0, 4), 3), "   ");
  EXPECT_EQ(decodeAs(kLh5, matchWithDistanceCode(13, 4), 3), "   ");
  // 4097 is past -lh4-'s 4 KiB dictionary.
  EXPECT_TRUE(refusedAs(kLh4, matchWithDistanceCode(13, 4), 3));
  EXPECT_TRUE(refusedAs(archivers::lz::kArjHuffman, matchWithDistanceCode(0, 5), 3));
  // Position symbols past the format's count: 14 for -lh5-, 17 for -lh7-.
  EXPECT_TRUE(refusedAs(kLh5, matchWithDistanceCode(14, 4), 3));
  EXPECT_EQ(decodeAs(archivers::lz::kLh7, matchWithDistanceCode(16, 5), 3), "   ");
  EXPECT_TRUE(refusedAs(archivers::lz::kLh7, matchWithDistanceCode(17, 5), 3));
}

TEST(LzHuffmanDecoder, OnlyLhCutsAMatchAtTheStatedSize) {
  BitWriter stream;
  singleSymbolBlock(stream, 1, 'A', 0, 5);
  singleSymbolBlock(stream, 1, 256 + 7, 0, 5);  // 10 bytes at distance 1
  EXPECT_EQ(decodeAs(archivers::lz::kLh7, stream, 6), "AAAAAA");
  EXPECT_TRUE(refusedAs(archivers::lz::kArjHuffman, stream, 6));
  EXPECT_EQ(decodeAs(archivers::lz::kArjHuffman, stream, 11), std::string(11, 'A'));
}

// Overlapping copies must repeat the pattern whatever the distance: short distances overlap
// within a word, longer ones span whole-word copies.
TEST(LzHuffmanDecoder, OverlappingMatchesRepeatTheirPattern) {
  for (unsigned distance = 1; distance <= 40; ++distance) {
    SCOPED_TRACE(distance);
    BitWriter stream;
    std::string expected;
    for (unsigned i = 0; i < distance; ++i) {
      const char literal = static_cast<char>('!' + i);
      singleSymbolBlock(stream, 1, static_cast<unsigned char>(literal));
      expected += literal;
    }
    const unsigned length = 200;
    // Bit length n of distance - 1 codes 2^(n-1) plus n-1 extra bits.
    const unsigned offset = distance - 1;
    const unsigned symbol = offset == 0 ? 0 : static_cast<unsigned>(std::bit_width(offset));
    singleSymbolBlock(stream, 1, 256 + length - 3, symbol);
    if (symbol > 1) stream.put(offset - (1u << (symbol - 1)), symbol - 1);
    for (unsigned i = 0; i < length; ++i) expected += expected[expected.size() - distance];
    singleSymbolBlock(stream, 1, 'z');
    expected += 'z';
    EXPECT_EQ(decodeAs(archivers::lz::kArjHuffman, stream, expected.size()), expected);
  }
}

// Output far larger than the decoder's buffer, with matches across every flush.
TEST(LzHuffmanDecoder, KeepsHistoryAcrossFlushes) {
  BitWriter stream;
  singleSymbolBlock(stream, 1, 'x', 0, 4);
  singleSymbolBlock(stream, 2, 'y', 0, 4);
  // 60000 matches of 256 bytes, each reaching back 4097 bytes (bit length 13, no extra).
  for (int block = 0; block < 2; ++block) {
    singleSymbolBlock(stream, 30000, 256 + 253, 13, 4);
    for (int i = 0; i < 30000; ++i) stream.put(0, 12);
  }
  const std::size_t size = 3 + 60000u * 256;
  const std::string out = decodeAs(archivers::lz::kLh5, stream, size);
  ASSERT_EQ(out.size(), size);
  constexpr std::size_t kPeriod = 4097;
  EXPECT_EQ(out.substr(0, kPeriod), "xyy" + std::string(kPeriod - 3, ' '));
  for (std::size_t i = kPeriod; i < size; i += kPeriod) {
    const std::size_t n = std::min(kPeriod, size - i);
    ASSERT_EQ(out.compare(i, n, out, i - kPeriod, n), 0) << "at " << i;
  }
}

}  // namespace
