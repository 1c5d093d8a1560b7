#pragma once

#include <string>

#include "settings/format_preference.h"

namespace parvo {

inline constexpr std::size_t kOutputBufferLength = 256;

// The values of one job, built at the start of RunJob and dropped when it returns.
struct JobContext {
  std::wstring outputBuffer;  // fixed-length, kOutputBufferLength characters
  FormatCode formatCode;
  std::wstring desktopPath;  // no trailing separator; may be empty
  std::wstring sourcePath;   // long form unless the argument was quoted
  std::wstring baseName;     // leaf name before its first dot, leading dots skipped
};

// How a job ended: with its output, or with a message to the user in its place.
enum class JobOutcome { kCompleted, kMessageShown };

}  // namespace parvo
