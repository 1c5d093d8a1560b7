#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// Marks the C entry points that a library exports; everything else stays hidden.
#define ARCHIVER_EXPORT extern "C" __attribute__((visibility("default")))

namespace archivers {

// Copies text into the caller's output buffer: never past size bytes, always NUL-terminated
// (nothing is written when size <= 0 or output is null).
void writeOutput(char* output, int32_t size, std::string_view text);

// Runs one operation behind a C entry point. The operation gets the command line and returns
// the one-line summary of its success; an ArchiveError becomes its result code and message,
// any other exception kInternal. No exception crosses the C boundary.
int32_t runEntryPoint(const char* commandLine, char* output, int32_t size,
                      const std::function<std::string(std::string_view commandLine)>& operation);

}  // namespace archivers
