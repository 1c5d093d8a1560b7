#pragma once

#include <mspack.h>

#include <cstdint>
#include <optional>
#include <string>

#include "common/extraction_sink.h"

namespace archivers::cab {

// The member's name as UTF-8 with '/' separators: names flagged _A_NAME_IS_UTF are UTF-8, the
// others CP932 (decoded before '\' turns into '/', since a CP932 trail byte may be 0x5C).
std::string memberPath(const mscabd_file& file);

// A cabinet stores the local wall-clock time of the machine that made it, without a zone. It is
// read as local time here, as Windows shows it, so the file shows the same time it had there.
// Nothing for an impossible date.
std::optional<std::int64_t> memberTime(const mscabd_file& file);

// 0755 for members marked _A_EXEC, else 0644. The read-only bit is not kept: it mostly comes from
// the media the files were copied from, and a read-only tree on the desktop only gets in the way.
std::uint32_t memberMode(const mscabd_file& file);

EntryInfo memberEntry(const mscabd_file& file);

}  // namespace archivers::cab
