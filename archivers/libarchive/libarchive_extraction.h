#pragma once

#include "common/archive_input.h"
#include "common/extraction_driver.h"
#include "common/extraction_sink.h"

namespace archivers {

// The archive formats read through libarchive.
enum class ArchiveKind { kZip, kTar };

// Reads every member of the archive through libarchive into the sink. A damaged member is left out
// (nothing under its name) and the rest is still read; damage that stops libarchive ends the
// reading with that damage recorded. Throws ArchiveError(kCannotOpen) when the input is not of
// this kind.
void readWithLibarchive(ArchiveInput& input, ExtractionSink& sink, ArchiveKind kind);

// TAR in every variant behind any compression filter, in the one reader shape.
void readTarArchive(ArchiveInput& input, ExtractionSink& sink);
inline constexpr FormatReader kTarReader{"tar", readTarArchive};

}  // namespace archivers
