#pragma once

#include <string>

#include "libarchive/archive_kind.h"

namespace archivers {

// Extracts every member of the archive into destination through an ExtractionSink and returns
// the one-line summary. A damaged member is left out (nothing under its name) and the rest is
// still extracted; afterwards the first problem is thrown: kCorrupt for damage, kUnsupported
// for encrypted members or unknown methods, kEntriesRefused for unsafe names. kCannotOpen when
// the file is missing or not of this kind.
std::string extractWithLibarchive(const std::string& archivePath, const std::string& destination,
                                  ArchiveKind kind);

}  // namespace archivers
