#pragma once

#include <string>

#include "cab/block_compressor.h"

namespace archivers::cab {

// Packs every file below the current folder (only its own files unless recursive) into a cabinet
// at destination, names relative to the folder, compressed by method. Links inside the folder are
// stored as what they point to; links leading outside, pipes, sockets and devices are left out
// and named in the summary; empty folders cannot be stored. The cabinet appears under its name
// only when complete. Returns the summary line; throws ArchiveError: kCannotOpen (a file or folder
// cannot be read), kUnsupported (nothing to pack, more than 65,535 files, a file or the whole
// cabinet too large for the format, a name too long), kWriteFailed.
std::string writeCabinet(const std::string& destination, bool recursive,
                         const CompressionMethod& method);

}  // namespace archivers::cab
