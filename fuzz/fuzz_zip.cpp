// Arbitrary bytes as a ZIP archive through our reader, from memory: the search for the end
// records, ZIP64 and prefixed layouts, the directory, the local header checks, inflation and the
// members into the extraction sink. Archives the reader leaves to libarchive end at once. Damage
// must surface as ArchiveError, never as a crash, an overrun or a hang.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::readInput(data, size, "zip");
  return 0;
}
