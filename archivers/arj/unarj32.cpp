#include "arj/arj_extractor.h"
#include "common/entry_point.h"
#include "common/extraction_driver.h"

// UnArj x -u "ARCHIVE" "DEST/": extracts everything, folders included.
ARCHIVER_EXPORT int32_t UnArj(int32_t, const char* commandLine, char* output, int32_t size) {
  return archivers::runEntryPoint(
      commandLine, output, size, [](std::string_view line, archivers::FollowedCall& call) {
        return archivers::runExtraction(line, {"x", {"-u"}}, archivers::arj::kReader, call);
      });
}
