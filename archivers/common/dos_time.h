#pragma once

#include <cstdint>
#include <optional>

namespace archivers {

// MS-DOS date and time in one 32-bit value: the date in the high half, the time (in two-second
// steps) in the low half. They hold local wall-clock time, as the systems that wrote them kept
// it, so they are read and written as local time.

// Nothing for a date or time that cannot exist (month 0, hour 24, ...).
std::optional<std::int64_t> dosTimeToUnix(std::uint32_t stamp);

// Clamped to the years DOS can hold, 1980 to 2107; odd seconds round down.
std::uint32_t unixToDosTime(std::int64_t seconds);

}  // namespace archivers
