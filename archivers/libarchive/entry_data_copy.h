#pragma once

#include <string>

#include "common/extraction_sink.h"
#include "libarchive/archive_reader.h"

struct archive_entry;

namespace archivers {

struct ExtractionTarget {
  std::string destination;  // the folder extracted into
  std::string memberPath;   // the member's decoded name, for messages
};

// Copies the current member's data into output; holes of sparse members and any shortfall from
// the stated size become zeros, as bsdtar writes them. Throws ArchiveError with libarchive's
// message when the data is damaged (checksum, truncation), and the output's own errors (past the
// declared size, disk full; kWriteFailed up front for holes larger than the free space of the
// destination's file system).
void copyEntryData(const ArchiveReader& reader, archive_entry* entry, FileOutput& output,
                   const ExtractionTarget& target);

}  // namespace archivers
