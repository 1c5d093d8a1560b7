#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "common/archive_error.h"
#include "common/progress.h"

// Marks the C entry points that a library exports; everything else stays hidden.
#define ARCHIVER_EXPORT extern "C" __attribute__((visibility("default")))

namespace archivers {

// What an operation that ran to its end reports: its one-line summary, and kLeftOut in place of
// kOk when the archive it wrote lacks something it was asked to hold.
struct Outcome {
  Outcome(std::string summary, Result code = Result::kOk)  // NOLINT: a summary alone is success
      : text(std::move(summary)), result(code) {}
  std::string text;
  Result result;
};

// Copies text into the caller's output buffer: never past size bytes, never cutting a UTF-8
// character, always NUL-terminated (nothing is written when size <= 0 or output is null).
void writeOutput(char* output, int32_t size, std::string_view text);

// Runs one operation behind a C entry point. The operation gets the command line and the call it
// runs as, which it hands to what reads and writes for it, and returns its outcome; the call is
// shown in a progress window when it lasts. An ArchiveError becomes its result code and message,
// any other exception kInternal. No exception crosses the C boundary. A termination signal during
// the operation stops it as the user's stop does, and is raised again once it has unwound (see
// FollowedCall).
int32_t runEntryPoint(
    const char* commandLine, char* output, int32_t size,
    const std::function<Outcome(std::string_view commandLine, FollowedCall& call)>& operation);

}  // namespace archivers
