#pragma once

#include "common/extraction_sink.h"
#include "common/text_encoding.h"
#include "libarchive/libarchive_extraction.h"

struct archive_entry;

namespace archivers {

// What a libarchive header says about a member, in the sink's terms. ZIP names come out as UTF-8
// with '/' separators; TAR names as libarchive gives them (UTF-8 from pax, raw bytes otherwise).
// Types other than file, folder and link are reported as nothing. names keeps one archive's ZIP
// names apart.
std::optional<EntryInfo> toEntryInfo(archive_entry* entry, ArchiveKind kind, ZipNameDecoder& names);

}  // namespace archivers
