#pragma once

#include <mspack.h>

#include <cstddef>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/archive_error.h"
#include "common/archive_input.h"
#include "common/extraction_sink.h"

namespace archivers::cab {

// The file handling libmspack works through. It reads the archive under archiveName() and the
// other parts of its set under their own names, every one an ArchiveInput, and "writes" only to
// the one FileOutput that the current member streams into: libmspack never creates, opens or
// names a file on disk itself.
class MspackBridge {
 public:
  // archive must outlive the bridge.
  explicit MspackBridge(ArchiveInput& archive);
  MspackBridge(const MspackBridge&) = delete;
  MspackBridge& operator=(const MspackBridge&) = delete;
  ~MspackBridge();

  // One bridge at a time per thread: the callbacks find it through a thread-local pointer.
  mspack_system* system() { return &system_; }

  // The name to hand open() and search() for the archive. Names of parts hold no path separator,
  // so none is ever taken for it.
  static const char* archiveName() { return "/archive"; }
  // The input libmspack reads under name: the archive, or the sibling of that name, opened once
  // through the archive's openSibling. Null when there is none.
  ArchiveInput* input(std::string_view name);

  // The name to hand extract(); while set, opening it for writing streams into output.
  static const char* outputName() { return "\x01parvo-member"; }
  void setOutput(FileOutput* output) { output_ = output; }

  // The first error a callback met (an I/O failure of our own, a full disk), if any; cleared by
  // takeError. Any other exception a callback met (no memory) is thrown from here: no exception
  // may unwind through libmspack's C frames, so the callbacks keep it until libmspack returns.
  std::optional<ArchiveError> takeError();
  // The last warning or error text libmspack reported, cleared by takeMessage.
  std::string takeMessage();

  // Used by the C callbacks.
  FileOutput* output() const { return output_; }
  // Keeps the exception being handled, the first one only.
  void recordError(std::exception_ptr error);
  void recordMessage(std::string text) { message_ = std::move(text); }
  bool reserve(std::size_t bytes);
  void release(std::size_t bytes) { allocated_ -= bytes; }

 private:
  mspack_system system_;
  ArchiveInput& archive_;
  std::map<std::string, std::unique_ptr<ArchiveInput>, std::less<>> siblings_;  // null: none
  FileOutput* output_ = nullptr;
  std::exception_ptr error_;
  std::string message_;
  std::size_t allocated_ = 0;
};

}  // namespace archivers::cab
