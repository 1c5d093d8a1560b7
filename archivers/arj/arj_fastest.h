#pragma once

#include <cstdint>

#include "common/stream.h"

namespace archivers::arj {

// Method 4: LZ77 whose lengths and distances are written with unary-prefixed variable widths.
// Produces exactly originalSize bytes into sink; malformed or short input throws
// ArchiveError(kCorrupt). Methods 1 to 3 are lz::decodeLzHuffman with lz::kArjHuffman.
void decodeFastestMethod(ByteSource& input, std::uint64_t originalSize, ByteSink& sink);

}  // namespace archivers::arj
