// Arbitrary bytes as a cabinet through the whole extraction, from memory: libmspack behind our
// file bridge, the MSZIP folders through libdeflate, members into the extraction sink. Damage must
// surface as ArchiveError, never as a crash, an overrun or a leak.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::readInput(data, size, archivers::cab::kReader);
  return 0;
}
