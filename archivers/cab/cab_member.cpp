#include "cab/cab_member.h"

#include <string_view>

#include "common/dos_time.h"
#include "common/text_encoding.h"

namespace archivers::cab {

std::string memberPath(const mscabd_file& file) {
  const std::string_view raw = file.filename == nullptr ? "" : file.filename;
  std::string decoded;
  if ((file.attribs & MSCAB_ATTRIB_UTF_NAME) != 0 && isValidUtf8(raw)) {
    decoded.assign(raw);
  } else if ((file.attribs & MSCAB_ATTRIB_UTF_NAME) != 0) {
    decoded = cp932ToUtf8(raw);  // flagged but not UTF-8: the flag is wrong
  } else {
    decoded = decodeUnflaggedName(raw);
  }
  return withForwardSlashes(std::move(decoded));
}

std::optional<std::int64_t> memberTime(const mscabd_file& file) {
  // libmspack hands the DOS date and time over as fields; put them back together.
  if (file.date_y < 1980 || file.date_y > 2107 || file.date_m < 0 || file.date_d < 0 ||
      file.time_h < 0 || file.time_m < 0 || file.time_s < 0) {
    return std::nullopt;
  }
  return dosTimeToUnix(static_cast<std::uint32_t>(file.date_y - 1980) << 25 |
                       static_cast<std::uint32_t>(file.date_m & 0x0F) << 21 |
                       static_cast<std::uint32_t>(file.date_d & 0x1F) << 16 |
                       static_cast<std::uint32_t>(file.time_h & 0x1F) << 11 |
                       static_cast<std::uint32_t>(file.time_m & 0x3F) << 5 |
                       static_cast<std::uint32_t>(file.time_s / 2 & 0x1F));
}

// The read-only attribute takes away every write bit, as the readers of cabinets on Unix do.
std::uint32_t memberMode(const mscabd_file& file) {
  const std::uint32_t mode = (file.attribs & MSCAB_ATTRIB_EXEC) != 0 ? 0755u : 0644u;
  return (file.attribs & MSCAB_ATTRIB_RDONLY) != 0 ? mode & 0555u : mode;
}

EntryInfo memberEntry(const mscabd_file& file) {
  EntryInfo entry;
  entry.path = memberPath(file);
  entry.type = EntryType::kFile;
  entry.declaredSize = file.length;
  entry.mtime = memberTime(file);
  entry.mode = memberMode(file);
  return entry;
}

}  // namespace archivers::cab
