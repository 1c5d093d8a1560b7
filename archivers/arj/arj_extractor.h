#pragma once

#include "common/archive_input.h"
#include "common/extraction_driver.h"
#include "common/extraction_sink.h"

namespace archivers::arj {

// Reads every member of an ARJ archive into the sink, folders included. The header chain is
// checked before anything is written: a damaged chain or a multi-volume archive writes nothing. A
// member whose data is damaged, or that is encrypted, is left out and the rest read.
void readArjArchive(ArchiveInput& input, ExtractionSink& sink);
inline constexpr FormatReader kReader{"arj", readArjArchive};

}  // namespace archivers::arj
