// The static-Huffman LZ decoder that LZH -lh4- to -lh7- and ARJ methods 1 to 3 share, on hand-made
// bit streams: back-references, what tells the set-ups apart, and input that must be refused rather
// than trusted. Long output across many blocks and flushes is in lh5_encoder_test.cpp.
#include "common/lz_huffman_decoder.h"

#include <bit>

#include "support/bit_stream.h"

namespace archivers::lz {
namespace {

std::optional<std::string> decodeAs(const LzHuffmanFormat& format, const BitWriter& stream,
                                    std::uint64_t size) {
  return decoded(stream,
                 [&](ByteSource& in, ByteSink& out) { decodeLzHuffman(in, size, out, format); });
}

// A block whose three codes each hold a single symbol, so that symbols cost no bits. The position
// code's count is positionBits wide (5 for ARJ, -lh6- and -lh7-; 4 for -lh4- and -lh5-).
void singleSymbolBlock(BitWriter& stream, std::uint16_t blockSize, unsigned charSymbol,
                       unsigned positionSymbol = 0, unsigned positionBits = 5) {
  stream.put(blockSize, 16);
  stream.put(0, 5).put(0, 5);                                     // pre-code: a single symbol
  stream.put(0, 9).put(charSymbol, 9);                            // character code: a single symbol
  stream.put(0, positionBits).put(positionSymbol, positionBits);  // 0: distance 1
}

TEST(LzHuffmanDecoder, RefusesBadTables) {
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
    EXPECT_EQ(decodeAs(kArjHuffman, stream, 3), std::nullopt);
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
  // Distance 1 and distance 4097 (bit length 13) both reach before the first byte.
  EXPECT_EQ(decodeAs(kLh5, matchWithDistanceCode(0, 4), 3), "   ");
  EXPECT_EQ(decodeAs(kLh5, matchWithDistanceCode(13, 4), 3), "   ");
  // 4097 is past -lh4-'s 4 KiB dictionary.
  EXPECT_EQ(decodeAs(kLh4, matchWithDistanceCode(13, 4), 3), std::nullopt);
  EXPECT_EQ(decodeAs(kArjHuffman, matchWithDistanceCode(0, 5), 3), std::nullopt);
  // Position symbols past the format's count: 14 for -lh5-, 17 for -lh7-.
  EXPECT_EQ(decodeAs(kLh5, matchWithDistanceCode(14, 4), 3), std::nullopt);
  EXPECT_EQ(decodeAs(kLh7, matchWithDistanceCode(16, 5), 3), "   ");
  EXPECT_EQ(decodeAs(kLh7, matchWithDistanceCode(17, 5), 3), std::nullopt);
}

TEST(LzHuffmanDecoder, OnlyLhCutsAMatchAtTheStatedSize) {
  BitWriter stream;
  singleSymbolBlock(stream, 1, 'A', 0, 5);
  singleSymbolBlock(stream, 1, 256 + 7, 0, 5);  // 10 bytes at distance 1
  EXPECT_EQ(decodeAs(kLh7, stream, 6), "AAAAAA");
  EXPECT_EQ(decodeAs(kArjHuffman, stream, 6), std::nullopt);
  EXPECT_EQ(decodeAs(kArjHuffman, stream, 11), std::string(11, 'A'));
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
    EXPECT_EQ(decodeAs(kArjHuffman, stream, expected.size()), expected);
  }
}

}  // namespace
}  // namespace archivers::lz
