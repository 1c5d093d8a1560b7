#pragma once

#include <cstdint>

#include "common/lz_huffman_bit_reader.h"

namespace archivers::lzh {

// What encodeLh5 read and wrote: the size and CRC fields of the member's header.
struct Lh5Result {
  std::uint64_t originalSize = 0;
  std::uint64_t compressedSize = 0;
  std::uint16_t crc = 0;  // CRC-16 of the original bytes
};

// Compresses everything input yields into output as -lh5- data, in one pass and in bounded
// memory (about half a MiB, whatever the input's size). Empty input writes nothing, which decodes
// as an empty member; writers normally store empty members as -lh0- all the same.
Lh5Result encodeLh5(ByteSource& input, ByteSink& output);

}  // namespace archivers::lzh
