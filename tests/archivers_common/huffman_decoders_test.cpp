// Hand-made bit streams for the two Huffman decoders the formats share: deflate and Deflate64 are
// read by one decoder by the tables of the form it is given; the static-Huffman LZ decoder serves
// LZH -lh4- to -lh7- and ARJ methods 1 to 3, told apart by their set-ups. Damage of each kind is
// refused, never a crash or a hang. Long LZ output across many blocks and flushes is in
// lh5_encoder_test.cpp.

#include "common/archive_error.h"
#include "common/inflate_decoder.h"
#include "common/lz_huffman_decoder.h"
#include "support/bit_stream.h"

namespace archivers {
namespace {

using namespace lz;
using Variant = InflateDecoder::Variant;

// Writes bits least significant first, as deflate packs them; prefix codes go most significant
// bit first.
class DeflateBits {
 public:
  DeflateBits& bits(std::uint32_t value, unsigned count) {
    for (unsigned i = 0; i < count; ++i) push((value >> i) & 1);
    return *this;
  }
  DeflateBits& code(std::uint32_t value, unsigned length) {
    for (unsigned i = length; i-- > 0;) push((value >> i) & 1);
    return *this;
  }
  DeflateBits& stored(bool last, std::uint16_t length, std::uint16_t check, std::string text) {
    bits(last ? 1 : 0, 3);
    used_ = (used_ + 7) / 8 * 8;
    bits(length, 16).bits(check, 16);
    for (const char c : text) bits(static_cast<unsigned char>(c), 8);
    return *this;
  }
  std::vector<std::uint8_t> done() const { return out_; }

 private:
  void push(std::uint32_t bit) {
    if (used_ % 8 == 0) out_.push_back(0);
    out_.back() = static_cast<std::uint8_t>(out_.back() | bit << (used_ % 8));
    ++used_;
  }
  std::vector<std::uint8_t> out_;
  unsigned used_ = 0;
};

// Fixed-code symbols: 'a', length codes 257 and 285, end of block; distance codes are 5 bits.
DeflateBits fixedBlock(bool last = true) {
  return std::move(DeflateBits().bits(last ? 1 : 0, 1).bits(1, 2).code(0x30 + 'a', 8));
}
constexpr std::uint32_t kLength3 = 1, kLength285 = 0xC5, kEndOfBlock = 0;

// The decoded text, or the error's message.
std::string decode(Variant variant, const std::vector<std::uint8_t>& stream) {
  std::string out;
  bool given = false;
  try {
    InflateDecoder().decode(
        variant,
        [&] {
          return std::exchange(given, true) ? std::span<const std::uint8_t>()
                                            : std::span<const std::uint8_t>(stream);
        },
        [&](const std::uint8_t* data, std::size_t size) {
          out.append(reinterpret_cast<const char*>(data), size);
        });
  } catch (const ArchiveError& error) {
    return error.what();
  }
  return out;
}

TEST(InflateDecoder, ReadsEachFormByItsTablesAndReportsDamage) {
  const std::string damaged = "damaged deflate data: ";
  struct Case {
    const char* label;
    Variant variant;
    std::vector<std::uint8_t> stream;
    std::string expected;
  };
  const Case cases[] = {
      {"285 is 3 + 16 bits in Deflate64", Variant::kDeflate64,
       fixedBlock().code(kLength285, 8).bits(60000, 16).code(0, 5).code(kEndOfBlock, 7).done(),
       std::string(60004, 'a')},
      {"distance before the start", Variant::kDeflate64,
       fixedBlock().code(kLength3, 7).code(1, 5).code(kEndOfBlock, 7).done(),
       damaged + "distance before the start of the output"},
      {"stored block cut short", Variant::kDeflate,
       DeflateBits().stored(true, 9, 0xFFF6, "hel").done(), damaged + "the stream is cut short"},
      {"no end of block", Variant::kDeflate, fixedBlock().code(kLength3, 7).code(0, 5).done(),
       damaged + "the stream is cut short"},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(decode(test.variant, test.stream), test.expected) << test.label;
  }
}

// What the decoder makes of the stream; nothing when it refuses it, which must be as kCorrupt.
std::optional<std::string> decodeAs(const LzHuffmanFormat& format, const BitWriter& stream,
                                    std::uint64_t size) {
  MemorySource source(stream.bytes().data(), stream.bytes().size());
  StringSink sink;
  try {
    decodeLzHuffman(source, size, sink, format);
  } catch (const ArchiveError& error) {
    EXPECT_EQ(error.result(), Result::kCorrupt) << error.what();
    return std::nullopt;
  }
  return sink.data;
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
  const std::pair<const char*, std::function<void(BitWriter&)>> streams[] = {
      {"an empty block", [](BitWriter& s) { singleSymbolBlock(s, 0, 'A'); }},
      {"more pre-code lengths than symbols", [](BitWriter& s) { s.put(1, 16).put(20, 5); }},
      {"a pre-code with three 1-bit codes",
       [](BitWriter& s) { s.put(1, 16).put(3, 5).put(1, 3).put(1, 3).put(1, 3).put(0, 2); }},
      {"a single character symbol past the last one",
       [](BitWriter& s) { s.put(1, 16).put(0, 5).put(0, 5).put(0, 9).put(510, 9); }},
      {"a single pre-code symbol past the last one",
       [](BitWriter& s) { s.put(1, 16).put(0, 5).put(19, 5); }},
      {"a back-reference before the first byte",
       [](BitWriter& s) { singleSymbolBlock(s, 1, 256); }},
      {"the data ends before the stated size", [](BitWriter& s) { singleSymbolBlock(s, 1, 'A'); }},
  };
  for (const auto& [label, write] : streams) {
    SCOPED_TRACE(label);
    BitWriter stream;
    write(stream);
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

}  // namespace
}  // namespace archivers
