#pragma once

#include <string>

#include "platform/platform.h"

namespace parvo {

// Replaces every component of a full path by the name the file system stores for it (short
// aliases become long names, letter case becomes the stored one). The root part (a drive such
// as "c:") is kept as written; repeated separators and a trailing one are dropped. Empty when a
// component cannot be found. Raises 6 (overflow) for a separator at position 32767 or beyond.
std::wstring ExpandLongPath(Platform& platform, std::wstring shortPath);

}  // namespace parvo
