#pragma once

#include <string>

#include "common/archive_input.h"
#include "common/extraction_sink.h"

namespace archivers::cab {

// The reader in the shape all readers share (common/archive_input.h), as extractCabinet below;
// the other parts of a set come from input.openSibling.
void readCabinet(ArchiveInput& input, ExtractionSink& sink);

// Extracts every member of the cabinet at archivePath, or of the cabinets embedded in it (a
// self-extracting program), under destination. Members of a broken folder or of a cabinet set
// whose other parts are missing are left out; the rest is extracted. Returns the summary line;
// throws ArchiveError: kCannotOpen, kCorrupt (some member damaged), kUnsupported (members need
// other parts of the set), kWriteFailed, kEntriesRefused.
std::string extractCabinet(const std::string& archivePath, const std::string& destination,
                           FollowedCall& call);

}  // namespace archivers::cab
