#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

namespace archivers {

// Result codes of every entry point; 0 is success.
enum class Result : int32_t {
  kOk = 0,
  kBadCommandLine = 1,  // unknown option, wrong number of operands, unbalanced quote
  kCannotOpen = 2,      // archive missing, unreadable or not of this format
  kCorrupt = 3,         // malformed or truncated data, checksum mismatch, size past declared
  kUnsupported = 4,     // method, encryption or multi-volume archive not handled
  kWriteFailed = 5,     // destination not creatable or writable, disk full
  kEntriesRefused = 6,  // some entries were skipped (unsafe names, links out); the rest landed
  kInternal = 7,        // anything unexpected
  kLeftOut = 8,         // the archive was written without some of the folder's entries (links
                        // out, special files, names the format cannot hold), which the text names
  kCancelled = 9,       // the user stopped the call; what was complete stays, the rest is undone
};

// A failure with a one-line explanation for the caller's output buffer.
class ArchiveError : public std::runtime_error {
 public:
  ArchiveError(Result result, const std::string& message)
      : std::runtime_error(message), result_(result) {}
  // "REASON: PATH". The reason comes first so that a message cut short by the caller's buffer
  // still says what went wrong.
  ArchiveError(Result result, std::string_view reason, std::string_view path)
      : ArchiveError(result, std::string(reason) + ": " + std::string(path)) {}
  Result result() const { return result_; }

 private:
  Result result_;
};

// "WHAT, REASON: NAME", such as "cannot write, No space left on device: NAME".
[[noreturn]] inline void throwWriteFailed(std::string_view what, int error, std::string_view name) {
  throw ArchiveError(Result::kWriteFailed, std::string(what) + ", " + std::strerror(error), name);
}

}  // namespace archivers
