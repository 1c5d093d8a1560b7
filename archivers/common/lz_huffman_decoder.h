#pragma once

#include <cstdint>

#include "common/lz_huffman_bit_reader.h"

namespace archivers::lz {

// LZ77 with static Huffman codes sent block by block, as in LZH -lh4- to -lh7- and ARJ methods
// 1 to 3. The variants differ in how far back a match may reach and in the position code.
struct LzHuffmanFormat {
  std::uint32_t dictionarySize;  // the furthest a match may reach back
  unsigned positionCodes;        // symbols of the position code: distance bit lengths 0..n-1
  unsigned positionCountBits;    // width of the position code's symbol count
  bool spacesBeforeStart;        // a match reaching before the first byte reads spaces
  bool clipsLastMatch;           // a match running past the stated size is cut short there
};

inline constexpr LzHuffmanFormat kLh4{4096, 14, 4, true, true};
inline constexpr LzHuffmanFormat kLh5{8192, 14, 4, true, true};
inline constexpr LzHuffmanFormat kLh6{32768, 16, 5, true, true};
inline constexpr LzHuffmanFormat kLh7{65536, 17, 5, true, true};
inline constexpr LzHuffmanFormat kArjHuffman{26624, 17, 5, false, false};

// Produces exactly originalSize bytes into sink, in large blocks; malformed or short input throws
// ArchiveError(kCorrupt).
void decodeLzHuffman(ByteSource& input, std::uint64_t originalSize, ByteSink& sink,
                     const LzHuffmanFormat& format);

}  // namespace archivers::lz
