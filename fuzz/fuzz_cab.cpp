// Arbitrary bytes as a cabinet through the whole extraction: libmspack behind our file bridge, the
// MSZIP folders through zlib, members into the extraction sink under a folder emptied after every
// run. Damage must surface as ArchiveError, never as a crash, an overrun or a leak.
#include "cab/cabinet_extraction.h"
#include "common/archive_error.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string cabinet = fuzz::writtenToFile(data, size, "fuzz.cab");
  const fuzz::fs::path output = fuzz::workFolder() / "out";
  try {
    archivers::cab::extractCabinet(cabinet, output.string() + "/");
  } catch (const archivers::ArchiveError& error) {
    // kInternal stands for a fault of ours, not of the input.
    if (error.result() == archivers::Result::kInternal) std::abort();
  }
  std::filesystem::remove_all(output);
  return 0;
}
