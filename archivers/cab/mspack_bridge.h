#pragma once

#include <mspack.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "common/archive_error.h"
#include "common/extraction_sink.h"

namespace archivers::cab {

// The file handling libmspack works through. It reads only the cabinet files it was told about,
// through InputFile, and "writes" only to the one FileOutput that the current member streams into:
// libmspack never creates, opens or names a file on disk itself.
class MspackBridge {
 public:
  MspackBridge();
  MspackBridge(const MspackBridge&) = delete;
  MspackBridge& operator=(const MspackBridge&) = delete;
  ~MspackBridge();

  // One bridge at a time per thread: the callbacks find it through a thread-local pointer.
  mspack_system* system() { return &system_; }

  // Paths libmspack may open for reading (the cabinet and any parts of its set).
  void allowInput(const std::string& path) { inputs_.push_back(path); }

  // The name to hand extract(); while set, opening it for writing streams into output.
  static const char* outputName() { return "\x01parvo-member"; }
  void setOutput(FileOutput* output) { output_ = output; }

  // The first error a callback met (an I/O failure of our own, a full disk), if any; cleared by
  // takeError.
  std::optional<ArchiveError> takeError();
  // The last warning or error text libmspack reported, cleared by takeMessage.
  std::string takeMessage();

  // Used by the C callbacks.
  bool mayRead(const char* path) const;
  FileOutput* output() const { return output_; }
  void recordError(const ArchiveError& error);
  void recordMessage(std::string text) { message_ = std::move(text); }
  bool reserve(std::size_t bytes);
  void release(std::size_t bytes) { allocated_ -= bytes; }

 private:
  mspack_system system_;
  std::vector<std::string> inputs_;
  FileOutput* output_ = nullptr;
  std::optional<ArchiveError> error_;
  std::string message_;
  std::size_t allocated_ = 0;
};

}  // namespace archivers::cab
