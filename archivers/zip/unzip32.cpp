#include <optional>

#include "common/archive_input.h"
#include "common/entry_point.h"
#include "common/extraction_sink.h"
#include "common/progress.h"
#include "libarchive/libarchive_extraction.h"
#include "zip/zip_extraction.h"

namespace {

// Stored and deflated members are read by our own reader; an archive that holds anything else
// (another method, encryption) or whose directory cannot be found goes to libarchive whole. The
// choice is made before anything is written.
std::string extractZip(std::string_view commandLine, archivers::FollowedCall& call) {
  const archivers::ExtractOperands operands = archivers::parseExtractCommand(commandLine, "-xv");
  archivers::FileArchiveInput input(operands.archive, call);
  call.setArchive(operands.archive, input.size());
  if (const std::optional<archivers::zip::ZipDirectory> directory =
          archivers::zip::readZipDirectory(input)) {
    archivers::ExtractionSink sink(operands.destination, call);
    archivers::zip::extractZipMembers(input, *directory, sink);
    return sink.finish();
  }
  return archivers::extractWithLibarchive(input, operands.archive, operands.destination,
                                          archivers::ArchiveKind::kZip, call);
}

}  // namespace

// UnZip -xv "ARCHIVE" "DEST/": extracts the whole ZIP archive into DEST.
ARCHIVER_EXPORT int32_t UnZip(int32_t, const char* commandLine, char* output, int32_t size) {
  return archivers::runEntryPoint(commandLine, output, size, extractZip);
}
