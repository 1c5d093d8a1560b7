#include "arj/arj_decoder.h"

#include "common/lz_huffman_decoder.h"

namespace archivers::arj {

void decodeHuffmanMethod(ByteSource& input, std::uint64_t originalSize, ByteSink& sink) {
  lz::decodeLzHuffman(input, originalSize, sink, lz::kArjHuffman);
}

}  // namespace archivers::arj
