#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "common/lz_huffman_bit_reader.h"

namespace archivers::lz {

// A canonical prefix code of up to 16 bits a code, codes assigned in order of length and then of
// symbol. Codes up to lookupBits long resolve through one table lookup, longer ones by walking
// the code lengths.
class HuffmanTable {
 public:
  static constexpr unsigned kMaxLength = 16;

  explicit HuffmanTable(unsigned lookupBits);

  // lengths[symbol] is the code length, 0 for an unused symbol. Throws kCorrupt for a length over
  // 16 or lengths that describe more codes than fit. An incomplete code is accepted; reading one of
  // its missing codes throws.
  void build(std::span<const std::uint8_t> lengths);
  // Every decode yields symbol and consumes no bits.
  void setSingle(std::uint16_t symbol);

  std::uint16_t decode(BitReader& bits) const;

  // The symbol whose code starts the bit buffer, which must hold 16 valid bits; consumes the code.
  std::uint16_t decode(BitState& bits) const {
    const std::uint32_t entry = lookup_[bits.top(lookupBits_)];
    const unsigned length = entry >> kLengthShift;
    if (length > kMaxLength) return decodeLong(bits);
    bits.consume(length);
    return static_cast<std::uint16_t>(entry);
  }

 private:
  static constexpr unsigned kLengthShift = 16;
  // In a lookup entry's length: the code is longer than the table resolves, or missing.
  static constexpr std::uint32_t kLong = 31;

  std::uint16_t decodeLong(BitState& bits) const;

  unsigned lookupBits_;
  std::array<std::uint16_t, kMaxLength + 1> counts_{};
  std::vector<std::uint16_t> sortedSymbols_;
  std::vector<std::uint32_t> lookup_;  // symbol | length << kLengthShift
};

}  // namespace archivers::lz
