#include "common/crc.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace archivers {
namespace {

// One bit at a time, straight from the definition of a reflected CRC.
template <typename Word>
Word bitwiseCrc(Word crc, Word polynomial, const std::vector<unsigned char>& bytes,
                std::size_t begin, std::size_t end) {
  for (std::size_t i = begin; i < end; ++i) {
    crc = static_cast<Word>(crc ^ bytes[i]);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1U) != 0 ? static_cast<Word>((crc >> 1) ^ polynomial)
                            : static_cast<Word>(crc >> 1);
    }
  }
  return crc;
}

std::uint32_t referenceCrc32(const std::vector<unsigned char>& bytes, std::size_t begin,
                             std::size_t end) {
  return ~bitwiseCrc<std::uint32_t>(~0U, 0xEDB88320U, bytes, begin, end);
}

std::uint16_t referenceCrc16(const std::vector<unsigned char>& bytes, std::size_t begin,
                             std::size_t end) {
  return bitwiseCrc<std::uint16_t>(0, 0xA001, bytes, begin, end);
}

TEST(Crc, KnownValuesAndIncrementalUpdates) {
  const char check[] = "123456789";
  EXPECT_EQ(crc32(0, check, 9), 0xCBF43926U);
  EXPECT_EQ(crc16(0, check, 9), 0xBB3DU);
  EXPECT_EQ(crc32(crc32(0, check, 4), check + 4, 5), 0xCBF43926U);
  EXPECT_EQ(crc16(crc16(0, check, 4), check + 4, 5), 0xBB3DU);
  EXPECT_EQ(crc32(0, "", 0), 0U);
  EXPECT_EQ(crc32(0, "The quick brown fox jumps over the lazy dog", 43), 0x414FA339U);
}

// Every offset and length mod 8 matters to the eight-byte loop and its tail, so the buffer is
// cut at odd places and fed in pieces of every size from 0 to 40 bytes, each continuing from the
// register the piece before left.
TEST(Crc, LongRandomBufferMatchesBitwiseReference) {
  std::mt19937 random(20261207);
  std::vector<unsigned char> bytes(1 << 20);
  for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(random());

  EXPECT_EQ(crc32(0, bytes.data(), bytes.size()), referenceCrc32(bytes, 0, bytes.size()));
  EXPECT_EQ(crc16(0, bytes.data(), bytes.size()), referenceCrc16(bytes, 0, bytes.size()));

  for (std::size_t begin = 0; begin < 8; ++begin) {
    const std::size_t end = bytes.size() - 3 - begin * 5;
    std::uint32_t piecewise32 = 0;
    std::uint16_t piecewise16 = 0;
    std::size_t piece = begin;
    for (std::size_t at = begin; at < end; piece = (piece + 7) % 41) {
      const std::size_t size = std::min(piece, end - at);
      piecewise32 = crc32(piecewise32, bytes.data() + at, size);
      piecewise16 = crc16(piecewise16, bytes.data() + at, size);
      at += size;
    }
    EXPECT_EQ(piecewise32, referenceCrc32(bytes, begin, end)) << "from offset " << begin;
    EXPECT_EQ(piecewise16, referenceCrc16(bytes, begin, end)) << "from offset " << begin;
  }
}

}  // namespace
}  // namespace archivers
