#pragma once

#include <cstdint>

#include "arj/sliding_window.h"

namespace archivers::arj {

// Methods 1 to 3: LZ77 with static Huffman codes sent block by block. Produces exactly
// originalSize bytes into sink; malformed or short input throws ArchiveError(kCorrupt).
void decodeHuffmanMethod(ByteSource& input, std::uint64_t originalSize, ByteSink& sink);

}  // namespace archivers::arj
