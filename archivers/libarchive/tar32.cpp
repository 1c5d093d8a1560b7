#include "common/entry_point.h"
#include "common/extraction_driver.h"
#include "libarchive/libarchive_extraction.h"

// Tar -xvf "ARCHIVE" "DEST/": extracts the whole TAR archive, compressed or not, into DEST.
ARCHIVER_EXPORT int32_t Tar(int32_t, const char* commandLine, char* output, int32_t size) {
  return archivers::runEntryPoint(
      commandLine, output, size, [](std::string_view line, archivers::FollowedCall& call) {
        return archivers::runExtraction(line, {"", {"-xvf"}}, archivers::kTarReader, call);
      });
}
