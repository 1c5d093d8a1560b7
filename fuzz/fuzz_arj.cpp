// Arbitrary bytes through the ARJ decoders and extraction. The first byte picks the target: the
// method 1-3 decoder, the method 4 decoder, the whole extraction of an archive, or the same
// static-Huffman decoder set up for LZH -lh4- to -lh7-. Damage must surface as ArchiveError, never
// as a crash or an overrun.
#include "arj/arj_extractor.h"
#include "arj/arj_fastest.h"
#include "common/lz_huffman_decoder.h"
#include "fuzz_support.h"

namespace {

constexpr std::uint64_t kMaxOutput = 1 << 20;

// The decoder must write exactly the size the first three bytes give (after the -lhN- byte).
void decodeStream(const std::uint8_t* data, std::size_t size, int decoder) {
  static constexpr const archivers::lz::LzHuffmanFormat* kLhFormats[] = {
      &archivers::lz::kLh4, &archivers::lz::kLh5, &archivers::lz::kLh6, &archivers::lz::kLh7};
  const std::size_t skip = decoder == 2 ? 1 : 0;
  if (size < 3 + skip) return;
  const std::uint64_t expected =
      (data[skip] | data[skip + 1] << 8 | data[skip + 2] << 16) % kMaxOutput;
  archivers::MemorySource source(data + 3 + skip, size - 3 - skip);
  StringSink sink;
  if (decoder == 1) {
    archivers::arj::decodeFastestMethod(source, expected, sink);
  } else {
    archivers::lz::decodeLzHuffman(
        source, expected, sink,
        decoder == 2 ? *kLhFormats[data[0] % 4] : archivers::lz::kArjHuffman);
  }
  fuzz::check(sink.data.size() == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  if (data[0] % 4 == 2) {
    fuzz::readInput(data + 1, size - 1, archivers::arj::kReader);
    return 0;
  }
  try {
    decodeStream(data + 1, size - 1, std::min(data[0] % 4, 2));
  } catch (const archivers::ArchiveError& error) {
    fuzz::check(error.result() == archivers::Result::kCorrupt ||
                error.result() == archivers::Result::kCannotOpen);
  }
  return 0;
}
