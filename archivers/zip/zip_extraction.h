#pragma once

#include "common/archive_input.h"
#include "common/extraction_driver.h"
#include "common/extraction_sink.h"
#include "zip/zip_directory.h"

namespace archivers::zip {

// Extracts every member the directory lists into the sink, in its order. A member whose local
// header disagrees with the directory, whose data overlaps another member's or runs past the
// directory, whose stored data falls short of its stated size, or whose data is damaged is reported
// to the sink and left out; the rest goes on. An end record that miscounts the entries is reported
// as damage too.
void extractZipMembers(ArchiveInput& input, const ZipDirectory& directory, ExtractionSink& sink);

// The reader in the shape all readers share: stored and deflated members are read by our own
// reader; an archive that holds anything else (another method, encryption) or whose directory
// cannot be found goes to libarchive whole. The choice is made before anything is written.
void readZipArchive(ArchiveInput& input, ExtractionSink& sink);
inline constexpr FormatReader kReader{"zip", readZipArchive};

}  // namespace archivers::zip
