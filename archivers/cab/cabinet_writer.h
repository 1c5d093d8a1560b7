#pragma once

#include <string>
#include <vector>

#include "cab/block_compressor.h"
#include "cab/sfx_stub/sfx_trailer.h"
#include "common/entry_point.h"
#include "common/progress.h"

namespace archivers::cab {

// Packs every file below the current folder (only its own files unless recursive) into a cabinet
// at destination, names relative to the folder, compressed by method. Links to files inside the
// folder are stored as what they point to; what the walk leaves out (see FolderWalk), names with
// a backslash, paths over 255 bytes and an earlier NAME.run made from a cabinet of this name are
// left out and named, with the result kLeftOut. Empty folders cannot be stored: the folders of the
// walk that hold no packed file go to emptyFolders, when given, for a self-extracting program to
// carry. The cabinet appears under its name only when complete. Throws ArchiveError: kCannotOpen
// (a file or folder cannot be read, or changed while it was read), kUnsupported (nothing to pack,
// more than 65,535 files, a file or the whole cabinet too large for the format), kWriteFailed,
// kCancelled once the call is stopped.
Outcome writeCabinet(const std::string& destination, bool recursive,
                     const CompressionMethod& method, FollowedCall& call,
                     std::vector<SfxFolder>* emptyFolders = nullptr);

}  // namespace archivers::cab
