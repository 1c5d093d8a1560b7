#pragma once

#include <string>

#include "common/archive_input.h"
#include "common/extraction_sink.h"

namespace archivers::arj {

// The reader in the shape all readers share (common/archive_input.h), as extractArchive below.
void readArjArchive(ArchiveInput& input, ExtractionSink& sink);

// Extracts every member of the ARJ archive at archivePath into destination, folders included, and
// returns a one-line summary. The header chain is checked before anything is written: a damaged
// chain, a multi-volume archive or one whose files are all encrypted writes nothing. A member whose
// data is damaged is left out and the rest extracted; the result is then kCorrupt naming it.
// Encrypted members among readable ones are refused (kEntriesRefused). Throws ArchiveError.
std::string extractArchive(const std::string& archivePath, const std::string& destination,
                           FollowedCall& call);

}  // namespace archivers::arj
