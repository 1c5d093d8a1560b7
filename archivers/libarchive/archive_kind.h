#pragma once

namespace archivers {

// The archive formats read through libarchive.
enum class ArchiveKind { kZip, kTar };

}  // namespace archivers
