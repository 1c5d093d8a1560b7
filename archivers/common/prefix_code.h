#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace archivers {

inline constexpr unsigned kMaxPrefixCodeLength = 16;

// A prefix code for one alphabet, made afresh for each block: code lengths from the symbol
// frequencies, limited to MaxLength bits (at most 16), and canonical codes (in order of length,
// then of symbol) as LZH, ARJ and LZX decoders assign them.
template <std::size_t Symbols, unsigned MaxLength = kMaxPrefixCodeLength>
class PrefixCode {
  static_assert(MaxLength >= 1 && MaxLength <= kMaxPrefixCodeLength);

 public:
  // Returns the symbol used when fewer than two are (0 when none): the block then sends it in
  // place of a table and codes it in no bits. Otherwise returns -1.
  int build(const std::array<std::uint32_t, Symbols>& frequencies) {
    lengths.fill(0);
    codes.fill(0);
    std::array<std::uint16_t, Symbols> symbols;
    unsigned used = 0;
    for (unsigned symbol = 0; symbol < Symbols; ++symbol) {
      if (frequencies[symbol] != 0) symbols[used++] = static_cast<std::uint16_t>(symbol);
    }
    if (used < 2) return used == 0 ? 0 : symbols[0];
    std::stable_sort(
        symbols.begin(), symbols.begin() + used,
        [&](std::uint16_t a, std::uint16_t b) { return frequencies[a] < frequencies[b]; });
    std::array<unsigned, kMaxPrefixCodeLength + 1> counts = depthCounts(frequencies, symbols, used);
    // Least frequent symbols take the longest codes.
    unsigned next = 0;
    for (unsigned length = MaxLength; length > 0; --length) {
      for (unsigned n = 0; n < counts[length]; ++n) {
        lengths[symbols[next++]] = static_cast<std::uint8_t>(length);
      }
    }
    std::array<std::uint16_t, kMaxPrefixCodeLength + 2> firstCode{};
    for (unsigned length = 1; length <= MaxLength; ++length) {
      firstCode[length + 1] = static_cast<std::uint16_t>((firstCode[length] + counts[length]) << 1);
    }
    for (unsigned symbol = 0; symbol < Symbols; ++symbol) {
      if (lengths[symbol] != 0) codes[symbol] = firstCode[lengths[symbol]]++;
    }
    return -1;
  }

  // As build, but with a code for two symbols at least, the first unused ones standing in: for
  // readers that refuse a code of one symbol or none.
  void buildWithTwoCodes(const std::array<std::uint32_t, Symbols>& frequencies) {
    if (build(frequencies) < 0) return;
    std::array<std::uint32_t, Symbols> padded = frequencies;
    auto used = static_cast<unsigned>(std::count_if(frequencies.begin(), frequencies.end(),
                                                    [](std::uint32_t f) { return f != 0; }));
    for (unsigned symbol = 0; used < 2; ++symbol) {
      if (padded[symbol] == 0) {
        padded[symbol] = 1;
        ++used;
      }
    }
    build(padded);
  }

  // One past the last symbol with a code.
  unsigned usedCount() const {
    unsigned count = Symbols;
    while (count > 0 && lengths[count - 1] == 0) --count;
    return count;
  }

  std::array<std::uint8_t, Symbols> lengths{};
  std::array<std::uint16_t, Symbols> codes{};

 private:
  // How many of the used symbols (sorted by rising frequency) get each code length: Huffman's
  // depths, then, if any is too deep, those cut to MaxLength and the code made to fit again by
  // pushing shallower leaves down.
  static std::array<unsigned, kMaxPrefixCodeLength + 1> depthCounts(
      const std::array<std::uint32_t, Symbols>& frequencies,
      const std::array<std::uint16_t, Symbols>& symbols, unsigned used) {
    // Leaves 0..used-1, then the inner nodes in the order they are made, which is also the order
    // of their weights: the two smallest are always at the front of one of the two runs.
    std::array<std::uint32_t, 2 * Symbols> weight;
    std::array<std::uint16_t, 2 * Symbols> parent;
    for (unsigned i = 0; i < used; ++i) weight[i] = frequencies[symbols[i]];
    unsigned leaf = 0;
    unsigned inner = used;
    const unsigned nodes = 2 * used - 1;
    for (unsigned node = used; node < nodes; ++node) {
      std::array<unsigned, 2> pair;
      for (unsigned& pick : pair) {
        pick = (leaf < used && (inner == node || weight[leaf] <= weight[inner])) ? leaf++ : inner++;
      }
      weight[node] = weight[pair[0]] + weight[pair[1]];
      parent[pair[0]] = parent[pair[1]] = static_cast<std::uint16_t>(node);
    }
    std::array<std::uint16_t, 2 * Symbols> depth;
    depth[nodes - 1] = 0;
    std::array<unsigned, kMaxPrefixCodeLength + 1> counts{};
    for (unsigned node = nodes - 1; node-- > 0;) {
      depth[node] = static_cast<std::uint16_t>(depth[parent[node]] + 1);
      if (node < used) ++counts[std::min<unsigned>(depth[node], MaxLength)];
    }
    // Kraft sum in units of the longest code; a complete code sums to exactly 1 << MaxLength.
    std::uint32_t kraft = 0;
    for (unsigned length = 1; length <= MaxLength; ++length) {
      kraft += counts[length] << (MaxLength - length);
    }
    // Each step drops one deepest leaf and hangs it beside the deepest shallower one, which goes
    // one level down: the sum falls by one unit. Cut leaves outnumber the excess, so there is
    // always a deepest leaf to drop.
    while (kraft > (1u << MaxLength)) {
      --counts[MaxLength];
      for (unsigned length = MaxLength - 1; length > 0; --length) {
        if (counts[length] != 0) {
          --counts[length];
          counts[length + 1] += 2;
          break;
        }
      }
      --kraft;
    }
    return counts;
  }
};

}  // namespace archivers
