// Arbitrary bytes as an LZH archive through the whole extraction: the header reader, the search for
// the next header after a damaged one, every decoder, members into the extraction sink. Damage must
// surface as ArchiveError, never as a crash, an overrun or a hang.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::readInput(data, size, archivers::lzh::kReader);
  return 0;
}
