#include "common/archive_error.h"
#include "common/entry_point.h"

ARCHIVER_EXPORT int32_t UnZip(int32_t, const char* commandLine, char* output, int32_t size) {
  return archivers::runEntryPoint(commandLine, output, size, [](std::string_view) -> std::string {
    throw archivers::ArchiveError(archivers::Result::kUnsupported, "not available yet");
  });
}
