#include "common/lz_huffman_table.h"

#include <algorithm>

#include "common/archive_error.h"

namespace archivers::lz {

HuffmanTable::HuffmanTable(unsigned lookupBits)
    : lookupBits_(lookupBits), lookup_(std::size_t{1} << lookupBits, kLong << kLengthShift) {}

void HuffmanTable::build(std::span<const std::uint8_t> lengths) {
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

  std::uint32_t code = 0;
  std::size_t index = 0;
  std::uint32_t* entries = lookup_.data();
  for (unsigned length = 1; length <= lookupBits_; ++length) {
    const unsigned shift = lookupBits_ - length;
    const std::uint32_t lengthField = static_cast<std::uint32_t>(length) << kLengthShift;
    for (unsigned n = 0; n < counts_[length]; ++n, ++code, ++index) {
      std::fill_n(entries + (code << shift), std::size_t{1} << shift,
                  sortedSymbols_[index] | lengthField);
    }
    code <<= 1;
  }
  // The rest of the table: codes longer than lookupBits, or none at all. The loop left code at
  // the first code of length lookupBits + 1.
  const std::size_t filled = std::min<std::size_t>(code >> 1, lookup_.size());
  std::fill(lookup_.begin() + static_cast<std::ptrdiff_t>(filled), lookup_.end(),
            kLong << kLengthShift);
}

void HuffmanTable::setSingle(std::uint16_t symbol) {
  std::fill(lookup_.begin(), lookup_.end(), symbol);
  counts_.fill(0);
}

std::uint16_t HuffmanTable::decode(BitReader& bits) const {
  bits.refill();
  const std::uint16_t symbol = decode(bits.state());
  bits.checkOverrun();
  return symbol;
}

std::uint16_t HuffmanTable::decodeLong(BitState& bits) const {
  const std::uint32_t window = bits.top(kMaxLength);
  std::uint32_t first = 0;  // first code of the current length
  std::size_t index = 0;    // index of that code's symbol in sortedSymbols_
  for (unsigned length = 1; length <= kMaxLength; ++length) {
    const std::uint32_t code = window >> (kMaxLength - length);
    if (code - first < counts_[length]) {
      bits.consume(length);
      return sortedSymbols_[index + (code - first)];
    }
    index += counts_[length];
    first = (first + counts_[length]) << 1;
  }
  throw ArchiveError(Result::kCorrupt, "invalid code in compressed data");
}

}  // namespace archivers::lz
