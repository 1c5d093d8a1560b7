#include "lzh/lh5_encoder.h"

#include <algorithm>
#include <array>

#include "common/crc.h"
#include "common/lz_huffman_decoder.h"
#include "common/lz_huffman_table.h"
#include "common/prefix_code.h"
#include "support/bit_stream.h"
#include "support/sample_files.h"

namespace {

namespace lz = archivers::lz;
using archivers::MemorySource;

// Each case round trips through our decoder, which the corpus holds to other writers' -lh5- data;
// the peer readers take our writer's -lh5- members in lzh_pack_test.cpp. Blocks end every 12288
// symbols, the input buffer drops its first 128 KiB when it holds 144 KiB.
TEST(Lh5Encoder, OurDecoderGivesBackWhatWeEncode) {
  std::string allBytes;
  for (int byte = 0; byte < 1024; ++byte) allBytes += static_cast<char>(byte);
  const struct {
    std::string name;
    std::string data;
    double maxRatio;  // compressed size over original size, at most
  } cases[] = {
      {"empty", "", 0},
      {"one repeated byte", std::string(1 << 20, '\0'), 0.001},
      {"all byte values", allBytes, 0.5},
      {"noise, one block less one", noise(12287, 1), 1.01},
      {"noise, one block", noise(12288, 2), 1.01},
      {"noise, one block and one", noise(12289, 3), 1.01},
      {"noise, two buffer slides", noise(300000, 4), 1.01},
      {"text around the slide", varyingText(147456 + 1), 0.4},
      {"text, many blocks", varyingText(3 << 20), 0.4},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    MemorySource source(reinterpret_cast<const std::uint8_t*>(test.data.data()), test.data.size());
    StringSink encoded;
    const auto result = archivers::lzh::encodeLh5(source, encoded);
    EXPECT_EQ(result.originalSize, test.data.size());
    EXPECT_EQ(result.compressedSize, encoded.data.size());
    EXPECT_EQ(result.crc, archivers::crc16(0, test.data.data(), test.data.size()));
    EXPECT_LE(static_cast<double>(encoded.data.size()),
              test.maxRatio * static_cast<double>(test.data.size()) + 16);

    MemorySource input(reinterpret_cast<const std::uint8_t*>(encoded.data.data()),
                       encoded.data.size());
    StringSink decoded;
    lz::decodeLzHuffman(input, test.data.size(), decoded, lz::kLh5);
    EXPECT_TRUE(decoded.data == test.data);
  }
}

// Fibonacci counts make Huffman's code as deep as the alphabet is long: 29 bits here, cut to 16.
TEST(Lh5Encoder, CodesAreCutTo16BitsStayCompleteAndReadBackThroughTheDecodersTable) {
  std::array<std::uint32_t, 510> frequencies{};
  for (std::uint32_t k = 0, count = 1, next = 1; k < 30; ++k) {
    frequencies[k * 17] = count;
    count = std::exchange(next, count + next);
  }
  archivers::PrefixCode<510> code;
  ASSERT_EQ(code.build(frequencies), -1);
  EXPECT_EQ(std::count(code.lengths.begin(), code.lengths.end(), 0), 510 - 30);
  std::uint32_t kraft = 0;
  BitWriter stream;
  for (unsigned symbol = 0; symbol < 510; symbol += 17) {
    const unsigned length = code.lengths[symbol];
    ASSERT_TRUE(length >= 1 && length <= 16) << symbol;
    EXPECT_TRUE(symbol == 0 || length <= code.lengths[symbol - 17]) << "rarer symbol " << symbol;
    kraft += 1u << (16 - length);
    stream.put(code.codes[symbol], length);
  }
  EXPECT_EQ(kraft, 1u << 16);

  MemorySource source(stream.bytes().data(), stream.bytes().size());
  lz::BitReader reader(source);
  lz::HuffmanTable table(8);
  table.build(code.lengths);
  for (unsigned k = 0; k < 30; ++k) EXPECT_EQ(table.decode(reader), k * 17);
}

}  // namespace
