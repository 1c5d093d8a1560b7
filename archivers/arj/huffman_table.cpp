#include "arj/huffman_table.h"

#include "common/archive_error.h"

namespace archivers::arj {

void HuffmanTable::build(std::span<const std::uint8_t> lengths) {
  single_ = false;
  counts_.fill(0);
  for (const std::uint8_t length : lengths) {
    if (length > kMaxLength) throw ArchiveError(Result::kCorrupt, "bad code length");
    ++counts_[length];
  }
  counts_[0] = 0;

  // Kraft inequality: an oversubscribed code cannot be decoded unambiguously.
  std::uint32_t left = 1;
  for (unsigned length = 1; length <= kMaxLength; ++length) {
    left <<= 1;
    if (counts_[length] > left) throw ArchiveError(Result::kCorrupt, "bad code table");
    left -= counts_[length];
  }

  std::array<std::uint16_t, kMaxLength + 2> offsets{};
  for (unsigned length = 1; length <= kMaxLength; ++length) {
    offsets[length + 1] = static_cast<std::uint16_t>(offsets[length] + counts_[length]);
  }
  sortedSymbols_.assign(offsets[kMaxLength + 1], 0);
  for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol) {
    if (lengths[symbol] != 0) {
      sortedSymbols_[offsets[lengths[symbol]]++] = static_cast<std::uint16_t>(symbol);
    }
  }

  lookup_.fill(Lookup{});
  std::uint32_t code = 0;
  std::size_t index = 0;
  for (unsigned length = 1; length <= kLookupBits; ++length) {
    for (unsigned n = 0; n < counts_[length]; ++n, ++code, ++index) {
      const unsigned shift = kLookupBits - length;
      const std::uint32_t first = code << shift;
      for (std::uint32_t fill = 0; fill < (1u << shift); ++fill) {
        lookup_[first + fill] = {sortedSymbols_[index], static_cast<std::uint8_t>(length)};
      }
    }
    code <<= 1;
  }
}

void HuffmanTable::setSingle(std::uint16_t symbol) {
  single_ = true;
  singleSymbol_ = symbol;
}

std::uint16_t HuffmanTable::decode(BitReader& bits) const {
  if (single_) return singleSymbol_;
  const Lookup& entry = lookup_[bits.peek(kLookupBits)];
  if (entry.length != 0) {
    bits.skip(entry.length);
    return entry.symbol;
  }
  return decodeLong(bits);
}

std::uint16_t HuffmanTable::decodeLong(BitReader& bits) const {
  const std::uint32_t window = bits.peek(kMaxLength);
  std::uint32_t first = 0;  // first code of the current length
  std::size_t index = 0;    // index of that code's symbol in sortedSymbols_
  for (unsigned length = 1; length <= kMaxLength; ++length) {
    const std::uint32_t code = window >> (kMaxLength - length);
    if (code - first < counts_[length]) {
      bits.skip(length);
      return sortedSymbols_[index + (code - first)];
    }
    index += counts_[length];
    first = (first + counts_[length]) << 1;
  }
  throw ArchiveError(Result::kCorrupt, "invalid code in compressed data");
}

}  // namespace archivers::arj
