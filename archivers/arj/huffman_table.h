#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "arj/bit_reader.h"

namespace archivers::arj {

// A canonical prefix code of up to 16 bits a code, codes assigned in order of length and then of
// symbol. Short codes resolve through one table lookup, longer ones by walking the code lengths.
class HuffmanTable {
 public:
  static constexpr unsigned kMaxLength = 16;

  // lengths[symbol] is the code length, 0 for an unused symbol. Throws kCorrupt for a length over
  // 16 or lengths that describe more codes than fit. An incomplete code is accepted; reading one of
  // its missing codes throws.
  void build(std::span<const std::uint8_t> lengths);
  // Every decode yields symbol and consumes no bits.
  void setSingle(std::uint16_t symbol);

  std::uint16_t decode(BitReader& bits) const;

 private:
  static constexpr unsigned kLookupBits = 10;
  static constexpr std::uint16_t kNoSymbol = 0xFFFF;

  struct Lookup {
    std::uint16_t symbol = kNoSymbol;
    std::uint8_t length = 0;  // 0 with kNoSymbol: the code is longer than kLookupBits or missing
  };

  std::uint16_t decodeLong(BitReader& bits) const;

  bool single_ = false;
  std::uint16_t singleSymbol_ = 0;
  std::array<std::uint16_t, kMaxLength + 1> counts_{};
  std::vector<std::uint16_t> sortedSymbols_;
  std::array<Lookup, 1u << kLookupBits> lookup_{};
};

}  // namespace archivers::arj
