// Arbitrary bytes as a cabinet through the whole extraction: libmspack behind our file bridge, the
// MSZIP folders through zlib, members into the extraction sink. Damage must surface as
// ArchiveError, never as a crash, an overrun or a leak.
#include "cab/cabinet_extraction.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::extractInput(data, size, "fuzz.cab", archivers::cab::extractCabinet);
  return 0;
}
