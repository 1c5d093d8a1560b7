#include "lzh/lh5_encoder.h"

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "common/crc.h"
#include "common/lz_huffman_decoder.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"

namespace {

using archivers::lzh::encodeLh5;
using archivers::lzh::Lh5Result;
namespace lz = archivers::lz;

constexpr std::int64_t kWindow = 8192;

// Hands the input over in uneven pieces, as a file or pipe might.
class UnevenSource : public lz::ByteSource {
 public:
  explicit UnevenSource(const std::string& data) : data_(data) {}
  std::size_t read(std::uint8_t* data, std::size_t count) override {
    const std::size_t size =
        std::min({count, data_.size() - position_, 1 + calls_++ * 7919 % 9000});
    data_.copy(reinterpret_cast<char*>(data), size, position_);
    position_ += size;
    return size;
  }

 private:
  const std::string& data_;
  std::size_t position_ = 0;
  std::size_t calls_ = 0;
};

class StringSink : public lz::ByteSink {
 public:
  void write(const std::uint8_t* data, std::size_t size) override {
    bytes.append(reinterpret_cast<const char*>(data), size);
  }
  std::string bytes;
};

// Four blocks of literals alone (no three bytes recur within the window), each of 32 common
// byte values and 15 rare ones counted 1, 1, 2, 3, 5, ..., 610: Huffman's code for the rarest
// would be some 19 bits long, over the format's 16.
std::string skewedLiterals() {
  std::string bytes;
  std::vector<std::int64_t> lastSeen(1 << 18, -kWindow);  // by three bytes of 6 bits
  std::uint32_t seed = 9;
  for (int block = 0; block < 4; ++block) {
    std::string pool;
    for (std::size_t rare = 0, count = 1, next = 1; rare < 15; ++rare) {
      pool.append(count, static_cast<char>(32 + rare));
      count = std::exchange(next, count + next);
    }
    for (std::size_t i = 0; pool.size() < 32768; ++i) pool += static_cast<char>(i % 32);
    while (!pool.empty()) {
      // The first of a few random picks that makes no recurring three bytes, else the last.
      std::size_t pick = 0;
      std::size_t key = 0;
      for (int attempt = 0; attempt < 16; ++attempt) {
        seed = seed * 1664525u + 1013904223u;
        pick = (seed >> 8) % pool.size();
        key =
            bytes.size() < 2 ? 0 : (bytes[bytes.size() - 2] << 12 | bytes.back() << 6 | pool[pick]);
        if (static_cast<std::int64_t>(bytes.size()) - lastSeen[key] > kWindow) break;
      }
      lastSeen[key] = static_cast<std::int64_t>(bytes.size());
      bytes += pool[pick];
      pool[pick] = pool.back();
      pool.pop_back();
    }
  }
  return bytes;
}

struct Case {
  std::string name;
  std::string data;
  double maxRatio;  // compressed size over original size, at most
};

// Blocks end every 32768 symbols, the input buffer drops its first 128 KiB when it holds 144 KiB.
std::vector<Case> cases() {
  std::string allBytes;
  for (int round = 0; round < 4; ++round) {
    for (int byte = 0; byte < 256; ++byte) allBytes += static_cast<char>(byte);
  }
  return {
      {"empty", "", 0},
      {"one byte", "x", 2},
      {"two bytes", "xy", 2},
      {"one repeated byte", std::string(1 << 20, '\0'), 0.001},
      {"all byte values", allBytes, 0.5},
      {"noise, one block less one", noise(32767, 1), 1.01},
      {"noise, one block", noise(32768, 2), 1.01},
      {"noise, one block and one", noise(32769, 3), 1.01},
      {"noise, two buffer slides", noise(300000, 4), 1.01},
      {"text around the slide", varyingText(147456 + 1), 0.4},
      {"text, many blocks", varyingText(3 << 20), 0.4},
      {"skewed literals", skewedLiterals(), 0.8},
  };
}

Lh5Result encode(const std::string& data, std::string& encoded) {
  UnevenSource source(data);
  StringSink sink;
  const Lh5Result result = encodeLh5(source, sink);
  encoded = sink.bytes;
  return result;
}

TEST(Lh5Encoder, RoundTripsThroughOurDecoder) {
  for (const Case& test : cases()) {
    SCOPED_TRACE(test.name);
    std::string encoded;
    const Lh5Result result = encode(test.data, encoded);
    EXPECT_EQ(result.originalSize, test.data.size());
    EXPECT_EQ(result.compressedSize, encoded.size());
    EXPECT_EQ(result.crc, archivers::crc16(0, test.data.data(), test.data.size()));
    EXPECT_LE(static_cast<double>(encoded.size()),
              test.maxRatio * static_cast<double>(test.data.size()) + 16);

    lz::MemorySource input(reinterpret_cast<const std::uint8_t*>(encoded.data()), encoded.size());
    StringSink decoded;
    lz::decodeLzHuffman(input, test.data.size(), decoded, lz::kLh5);
    EXPECT_TRUE(decoded.bytes == test.data);
  }
}

void appendLittleEndian(std::string& bytes, std::uint32_t value, int width) {
  for (int i = 0; i < width; ++i) bytes += static_cast<char>(value >> (8 * i));
}

// A level-0 member header: its size and checksum, method, sizes, time, attribute, level, name,
// CRC-16 of the data.
std::string memberHeader(const std::string& name, const Lh5Result& result) {
  std::string fields = "-lh5-";
  appendLittleEndian(fields, static_cast<std::uint32_t>(result.compressedSize), 4);
  appendLittleEndian(fields, static_cast<std::uint32_t>(result.originalSize), 4);
  appendLittleEndian(fields, 0x58210000, 4);  // 2024-01-01 00:00
  fields += '\x20';
  fields += '\0';
  fields += static_cast<char>(name.size());
  fields += name;
  appendLittleEndian(fields, result.crc, 2);
  unsigned checksum = 0;
  for (const char byte : fields) checksum += static_cast<std::uint8_t>(byte);
  return std::string{static_cast<char>(fields.size()), static_cast<char>(checksum)} + fields;
}

TEST(Lh5Encoder, LhasaExtractsWhatWeEncode) {
  TemporaryFolder work;
  std::string archive;
  const std::vector<Case> all = cases();
  for (std::size_t i = 0; i < all.size(); ++i) {
    std::string encoded;
    const Lh5Result result = encode(all[i].data, encoded);
    archive += memberHeader("member" + std::to_string(i), result) + encoded;
  }
  archive += '\0';
  writeFile(work / "encoded.lzh", archive);
  std::filesystem::create_directory(work / "out");
  runTool({"lhasa", "xqw=out", "encoded.lzh"}, work.path());
  for (std::size_t i = 0; i < all.size(); ++i) {
    SCOPED_TRACE(all[i].name);
    EXPECT_TRUE(readFile(work / ("out/member" + std::to_string(i))) == all[i].data);
  }
}

}  // namespace
