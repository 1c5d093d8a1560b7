// Arbitrary bytes through the -lh5- encoder and back through our decoder, which must give them
// back unchanged. The first byte says how many times the rest is repeated, so that inputs also
// hold long and distant matches and span several blocks.
#include "common/lz_huffman_decoder.h"
#include "fuzz_support.h"
#include "lzh/lh5_encoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string input;
  for (unsigned copy = 0; copy <= data[0] % 8u; ++copy)
    input.append(reinterpret_cast<const char*>(data + 1), size - 1);

  archivers::MemorySource source(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
  StringSink encoded;
  const archivers::lzh::Lh5Result result = archivers::lzh::encodeLh5(source, encoded);
  if (result.originalSize != input.size() || result.compressedSize != encoded.data.size()) abort();

  archivers::MemorySource packed(reinterpret_cast<const std::uint8_t*>(encoded.data.data()),
                                 encoded.data.size());
  StringSink decoded;
  archivers::lz::decodeLzHuffman(packed, input.size(), decoded, archivers::lz::kLh5);
  if (decoded.data != input) abort();
  return 0;
}
