#include "cab/cab_member.h"

#include <ctime>
#include <string_view>

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
  if (file.date_m < 1 || file.date_m > 12 || file.date_d < 1 || file.date_d > 31 ||
      file.time_h < 0 || file.time_h > 23 || file.time_m < 0 || file.time_m > 59 ||
      file.time_s < 0 || file.time_s > 59) {
    return std::nullopt;
  }
  std::tm fields{};
  fields.tm_year = file.date_y - 1900;
  fields.tm_mon = file.date_m - 1;
  fields.tm_mday = file.date_d;
  fields.tm_hour = file.time_h;
  fields.tm_min = file.time_m;
  fields.tm_sec = file.time_s;
  fields.tm_isdst = -1;
  const std::time_t seconds = std::mktime(&fields);
  if (seconds == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<std::int64_t>(seconds);
}

std::uint32_t memberMode(const mscabd_file& file) {
  return (file.attribs & MSCAB_ATTRIB_EXEC) != 0 ? 0755u : 0644u;
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
