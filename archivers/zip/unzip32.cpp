#include "common/entry_point.h"
#include "common/extraction_driver.h"
#include "zip/zip_extraction.h"

// UnZip -xv "ARCHIVE" "DEST/": extracts the whole ZIP archive into DEST.
ARCHIVER_EXPORT int32_t UnZip(int32_t, const char* commandLine, char* output, int32_t size) {
  return archivers::runEntryPoint(
      commandLine, output, size, [](std::string_view line, archivers::FollowedCall& call) {
        return archivers::runExtraction(line, {"", {"-xv"}}, archivers::zip::kReader, call);
      });
}
