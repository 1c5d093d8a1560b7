// Arbitrary bytes as a ZIP archive through our reader, from memory: the search for the end
// records, ZIP64 and prefixed layouts, the directory, the local header checks, inflation and the
// members into the extraction sink. Archives the reader leaves to libarchive end at once. Damage
// must surface as ArchiveError, never as a crash, an overrun or a hang.
#include "common/archive_input.h"
#include "common/extraction_sink.h"
#include "fuzz_support.h"
#include "zip/zip_extraction.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path output = fuzz::workFolder() / "out";
  try {
    archivers::MemoryArchiveInput input(
        std::string_view(reinterpret_cast<const char*>(data), size));
    archivers::ExtractionSink sink(output.string());
    archivers::zip::readZipArchive(input, sink);
    sink.finish();
  } catch (const archivers::ArchiveError& error) {
    fuzz::check(error.result() != archivers::Result::kInternal);
  }
  std::filesystem::remove_all(output);
  return 0;
}
