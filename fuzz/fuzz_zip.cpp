// Arbitrary bytes as a ZIP archive through the one driver and the ZIP reader, from memory: the
// search for the end records, ZIP64 and prefixed layouts, the directory, the local header checks,
// inflation and the members into the extraction sink, and the hand-over to libarchive of what our
// reader leaves alone. Damage must surface as ArchiveError, never as a crash, an overrun or a hang.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::readInput(data, size, archivers::zip::kReader);
  return 0;
}
