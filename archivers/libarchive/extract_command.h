#pragma once

#include <string>
#include <string_view>

#include "libarchive/archive_kind.h"

namespace archivers {

// Runs an extraction command line of the form `OPTION "ARCHIVE" "DEST/"`: exactly that one
// option and two operands, anything else is ArchiveError(kBadCommandLine).
std::string runExtractCommand(std::string_view commandLine, std::string_view option,
                              ArchiveKind kind);

}  // namespace archivers
