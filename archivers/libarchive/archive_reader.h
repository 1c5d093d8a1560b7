#pragma once

#include <memory>
#include <string>

#include "common/archive_error.h"
#include "common/input_file.h"
#include "libarchive/libarchive_extraction.h"

struct archive;

namespace archivers {

class GzipSource;

// An open libarchive reader set up for one kind of archive: ZIP through the central directory
// (falling back to the local headers when there is none); TAR in every variant behind any
// compression filter, detected by content. Names are left as libarchive finds them.
class ArchiveReader {
 public:
  // Throws ArchiveError(kCannotOpen) when the file cannot be opened or is not a regular file.
  ArchiveReader(const std::string& path, ArchiveKind kind);
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;
  ~ArchiveReader();

  archive* handle() const { return archive_; }
  // After the last member: reads what follows to the end where that verifies a checksum (the
  // trailer of a gzip stream). Throws ArchiveError(kCorrupt).
  void verifyToEnd();
  ArchiveKind kind() const { return kind_; }
  // How far into the archive file libarchive has read.
  std::uint64_t position() const;

  // libarchive's last error as one line, never empty.
  std::string errorMessage() const;
  // The error's result code: kUnsupported for encryption and unknown methods, else kCorrupt.
  Result errorResult() const;

 private:
  ArchiveReader(const std::string& path, RegularFile file, ArchiveKind kind);

  FileDescriptor file_;  // outlives archive_, which reads it
  archive* archive_;
  ArchiveKind kind_;
  std::unique_ptr<GzipSource> gzip_;
};

}  // namespace archivers
