#pragma once

#include <string>

#include "common/archive_input.h"
#include "common/extraction_sink.h"

namespace archivers::lzh {

// The reader in the shape all readers share (common/archive_input.h), as extractArchive below.
void readLzhArchive(ArchiveInput& input, ExtractionSink& sink);

// Extracts every member of an LZH archive under destination, folders included. Returns the
// one-line summary. Throws ArchiveError: kCannotOpen for a file that is not an LZH archive (the
// destination is then not made), kCorrupt for damaged headers or data (members whose CRC or
// length is wrong are not kept), kUnsupported when members use a method that cannot be decoded,
// kEntriesRefused for unsafe names and links that point out. The other members are extracted all
// the same: after a damaged header the rest of the file is searched for the next sound one.
std::string extractArchive(const std::string& archivePath, const std::string& destination,
                           FollowedCall& call);

}  // namespace archivers::lzh
