#include "common/crc.h"

#include <array>
#include <bit>
#include <cstring>

namespace archivers {
namespace {

// Slicing-by-8: tables[k][n] is the CRC of byte n followed by k zero bytes, so eight input bytes
// are folded in with eight independent lookups instead of eight dependent ones.
template <typename Word>
constexpr std::array<std::array<Word, 256>, 8> slicingTables(Word polynomial) {
  std::array<std::array<Word, 256>, 8> tables{};
  for (unsigned index = 0; index < 256; ++index) {
    Word value = static_cast<Word>(index);
    for (int bit = 0; bit < 8; ++bit) {
      value = (value & 1U) != 0 ? static_cast<Word>((value >> 1) ^ polynomial)
                                : static_cast<Word>(value >> 1);
    }
    tables[0][index] = value;
  }
  for (std::size_t slice = 1; slice < 8; ++slice) {
    for (unsigned index = 0; index < 256; ++index) {
      const Word previous = tables[slice - 1][index];
      tables[slice][index] = static_cast<Word>((previous >> 8) ^ tables[0][previous & 0xFFU]);
    }
  }
  return tables;
}

constexpr auto kCrc16Tables = slicingTables<std::uint16_t>(0xA001);
constexpr auto kCrc32Tables = slicingTables<std::uint32_t>(0xEDB88320U);

// The register after feeding size bytes; Word is std::uint16_t or std::uint32_t.
template <typename Word>
Word update(Word crc, const std::array<std::array<Word, 256>, 8>& tables,
            const unsigned char* bytes, std::size_t size) {
  std::uint32_t state = crc;
  while (size >= 8) {
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    std::memcpy(&low, bytes, 4);
    std::memcpy(&high, bytes + 4, 4);
    if constexpr (std::endian::native == std::endian::big) {
      low = __builtin_bswap32(low);
      high = __builtin_bswap32(high);
    }
    low ^= state;
    state = tables[7][low & 0xFFU] ^ tables[6][(low >> 8) & 0xFFU] ^
            tables[5][(low >> 16) & 0xFFU] ^ tables[4][low >> 24] ^ tables[3][high & 0xFFU] ^
            tables[2][(high >> 8) & 0xFFU] ^ tables[1][(high >> 16) & 0xFFU] ^
            tables[0][high >> 24];
    bytes += 8;
    size -= 8;
  }
  for (std::size_t i = 0; i < size; ++i) {
    state = (state >> 8) ^ tables[0][(state ^ bytes[i]) & 0xFFU];
  }
  return static_cast<Word>(state);
}

}  // namespace

std::uint16_t crc16(std::uint16_t crc, const void* data, std::size_t size) {
  return update(crc, kCrc16Tables, static_cast<const unsigned char*>(data), size);
}

std::uint32_t crc32(std::uint32_t crc, const void* data, std::size_t size) {
  return ~update(~crc, kCrc32Tables, static_cast<const unsigned char*>(data), size);
}

}  // namespace archivers
