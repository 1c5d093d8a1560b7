#pragma once

#include <string>
#include <string_view>

#include "common/archive_input.h"
#include "common/progress.h"

namespace archivers {

// The archive formats read through libarchive.
enum class ArchiveKind { kZip, kTar };

// Runs an extraction command line of the form `OPTION "ARCHIVE" "DEST/"` (exactly that one option
// and two operands, anything else is ArchiveError(kBadCommandLine)): extracts every member of the
// archive into DEST through an ExtractionSink and returns the one-line summary. A damaged member
// is left out (nothing under its name) and the rest is still extracted; afterwards the first
// problem is thrown: kCorrupt for damage, kUnsupported for encrypted members or unknown methods,
// kEntriesRefused for unsafe names. kCannotOpen when the file is missing or not of this kind.
std::string runExtractCommand(std::string_view commandLine, std::string_view option,
                              ArchiveKind kind, FollowedCall& call);

// The archive and destination of such a command line, checked as runExtractCommand checks them.
struct ExtractOperands {
  std::string archive;
  std::string destination;
};
ExtractOperands parseExtractCommand(std::string_view commandLine, std::string_view option);

// Extracts the archive input reads into destination through libarchive, as runExtractCommand, for
// call; archivePath names it in messages.
std::string extractWithLibarchive(ArchiveInput& input, const std::string& archivePath,
                                  const std::string& destination, ArchiveKind kind,
                                  FollowedCall& call);

}  // namespace archivers
