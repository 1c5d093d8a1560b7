#pragma once

#include "common/archive_input.h"
#include "common/extraction_driver.h"
#include "common/extraction_sink.h"

namespace archivers::cab {

// Reads every member of the cabinet, or of the cabinets embedded in it (a self-extracting
// program), into the sink; the other parts of a set come from input.openSibling. Members of a
// broken folder or of a set whose other parts are missing are left out; the rest is read.
void readCabinet(ArchiveInput& input, ExtractionSink& sink);
inline constexpr FormatReader kReader{"cab", readCabinet};

}  // namespace archivers::cab
