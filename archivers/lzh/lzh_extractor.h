#pragma once

#include "common/archive_input.h"
#include "common/extraction_driver.h"
#include "common/extraction_sink.h"

namespace archivers::lzh {

// Reads every member of an LZH archive into the sink, folders included. Throws
// ArchiveError(kCannotOpen) for a file that is not an LZH archive. Members whose CRC or length is
// wrong are not kept; after a damaged header the rest of the file is searched for the next sound
// one.
void readLzhArchive(ArchiveInput& input, ExtractionSink& sink);
inline constexpr FormatReader kReader{"lzh", readLzhArchive};

}  // namespace archivers::lzh
