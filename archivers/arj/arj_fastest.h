#pragma once

#include <cstdint>

#include "arj/sliding_window.h"

namespace archivers::arj {

// Method 4: LZ77 whose lengths and distances are written with unary-prefixed variable widths.
// Produces exactly originalSize bytes into sink; malformed or short input throws
// ArchiveError(kCorrupt).
void decodeFastestMethod(ByteSource& input, std::uint64_t originalSize, ByteSink& sink);

}  // namespace archivers::arj
