#pragma once

#include <string>

#include "cab/block_compressor.h"
#include "common/entry_point.h"

namespace archivers::cab {

// Packs every file below the current folder (only its own files unless recursive) into a cabinet
// at destination, names relative to the folder, compressed by method. Links to files inside the
// folder are stored as what they point to; what the walk leaves out (see FolderWalk), names with
// a backslash and an earlier NAME.run made from a cabinet of this name are left out and named,
// with the result kLeftOut; empty folders cannot be stored. The cabinet appears under its name
// only when complete. Throws ArchiveError: kCannotOpen (a file or folder cannot be read),
// kUnsupported (nothing to pack, more than 65,535 files, a file or the whole cabinet too large
// for the format, a name too long), kWriteFailed.
Outcome writeCabinet(const std::string& destination, bool recursive,
                     const CompressionMethod& method);

}  // namespace archivers::cab
