#include "common/dos_time.h"

#include <algorithm>
#include <ctime>

namespace archivers {

std::optional<std::int64_t> dosTimeToUnix(std::uint32_t stamp) {
  std::tm fields{};
  fields.tm_year = static_cast<int>((stamp >> 25) & 0x7F) + 80;
  fields.tm_mon = static_cast<int>((stamp >> 21) & 0x0F) - 1;
  fields.tm_mday = static_cast<int>((stamp >> 16) & 0x1F);
  fields.tm_hour = static_cast<int>((stamp >> 11) & 0x1F);
  fields.tm_min = static_cast<int>((stamp >> 5) & 0x3F);
  fields.tm_sec = static_cast<int>(stamp & 0x1F) * 2;
  fields.tm_isdst = -1;
  if (fields.tm_mon < 0 || fields.tm_mon > 11 || fields.tm_mday == 0 || fields.tm_hour > 23 ||
      fields.tm_min > 59 || fields.tm_sec > 59) {
    return std::nullopt;
  }
  const std::time_t seconds = std::mktime(&fields);
  if (seconds == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<std::int64_t>(seconds);
}

std::uint32_t unixToDosTime(std::int64_t seconds) {
  constexpr std::uint32_t kEarliest = (1u << 21) | (1u << 16);  // 1980-01-01 00:00:00
  constexpr std::uint32_t kLatest = (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) |
                                    (59u << 5) | 29u;  // 2107-12-31 23:59:58
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm local{};
  if (localtime_r(&time, &local) == nullptr || local.tm_year < 80) return kEarliest;
  if (local.tm_year > 207) return kLatest;
  return static_cast<std::uint32_t>(local.tm_year - 80) << 25 |
         static_cast<std::uint32_t>(local.tm_mon + 1) << 21 |
         static_cast<std::uint32_t>(local.tm_mday) << 16 |
         static_cast<std::uint32_t>(local.tm_hour) << 11 |
         static_cast<std::uint32_t>(local.tm_min) << 5 |
         static_cast<std::uint32_t>(std::min(local.tm_sec, 59) / 2);
}

}  // namespace archivers
