#include "common/crc.h"

#include <array>

namespace archivers {
namespace {

template <typename Word>
constexpr std::array<Word, 256> reflectedTable(Word polynomial) {
  std::array<Word, 256> table{};
  for (unsigned index = 0; index < 256; ++index) {
    Word value = static_cast<Word>(index);
    for (int bit = 0; bit < 8; ++bit) {
      value = (value & 1U) != 0 ? static_cast<Word>((value >> 1) ^ polynomial)
                                : static_cast<Word>(value >> 1);
    }
    table[index] = value;
  }
  return table;
}

constexpr auto kCrc16Table = reflectedTable<std::uint16_t>(0xA001);
constexpr auto kCrc32Table = reflectedTable<std::uint32_t>(0xEDB88320U);

}  // namespace

std::uint16_t crc16(std::uint16_t crc, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) {
    crc = static_cast<std::uint16_t>((crc >> 8) ^ kCrc16Table[(crc ^ bytes[i]) & 0xFFU]);
  }
  return crc;
}

std::uint32_t crc32(std::uint32_t crc, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  crc = ~crc;
  for (std::size_t i = 0; i < size; ++i) {
    crc = (crc >> 8) ^ kCrc32Table[(crc ^ bytes[i]) & 0xFFU];
  }
  return ~crc;
}

}  // namespace archivers
