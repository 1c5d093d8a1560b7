#pragma once

#include "common/archive_input.h"
#include "common/extraction_sink.h"
#include "zip/zip_directory.h"

namespace archivers::zip {

// Extracts every member the directory lists into the sink, in its order. A member whose local
// header disagrees with the directory, whose data overlaps another member's or runs past the
// directory, whose stored data falls short of its stated size, or whose data is damaged is reported
// to the sink and left out; the rest goes on. An end record that miscounts the entries is reported
// as damage too.
void extractZipMembers(ArchiveInput& input, const ZipDirectory& directory, ExtractionSink& sink);

// The reader in the shape all readers share. Throws ArchiveError(kUnsupported) for an archive
// readZipDirectory leaves to the general reader.
void readZipArchive(ArchiveInput& input, ExtractionSink& sink);

}  // namespace archivers::zip
