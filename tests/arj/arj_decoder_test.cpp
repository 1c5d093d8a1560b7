// The decoders on hand-made bit streams: the block layout, back-references, and input that must
// be refused rather than trusted.
#include "arj/arj_decoder.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "arj/arj_fastest.h"
#include "common/archive_error.h"

namespace {

using archivers::lz::ByteSink;
using archivers::lz::MemorySource;

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

using Decoder = void (*)(archivers::lz::ByteSource&, std::uint64_t, ByteSink&);

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
void singleSymbolBlock(BitWriter& stream, std::uint16_t blockSize, unsigned charSymbol) {
  stream.put(blockSize, 16);
  stream.put(0, 5).put(0, 5);           // pre-code: a single symbol
  stream.put(0, 9).put(charSymbol, 9);  // character code: a single symbol
  stream.put(0, 5).put(0, 5);           // position code: distance 1
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

}  // namespace
