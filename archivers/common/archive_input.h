#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "common/input_file.h"

namespace archivers {

class ExtractionSink;
class FollowedCall;

// The bytes of an archive as every reader takes them: by position, so that a reader can follow
// the offsets its format stores, and through this one object, so that whatever watches the
// reading (progress, cancellation) sees every byte.
class ArchiveInput {
 public:
  virtual ~ArchiveInput() = default;

  virtual std::uint64_t size() const = 0;
  // Up to count bytes from position; fewer only at the end. Throws ArchiveError(kCannotOpen) on an
  // I/O error.
  virtual std::size_t readAt(std::uint64_t position, void* data, std::size_t count) = 0;
  // Another volume of the same set (the next cabinet), by the name the archive gives it; null
  // when there is none.
  virtual std::unique_ptr<ArchiveInput> openSibling(std::string_view name) = 0;

  // Exactly count bytes, or ArchiveError(kCorrupt, "the archive is truncated").
  void readExactAt(std::uint64_t position, void* data, std::size_t count);
};

// The one shape of a format reader: the archive's bytes from input (the other volumes of a set
// through input.openSibling), its members into the sink, damaged and unsupported ones reported
// there. Throws ArchiveError(kCannotOpen) for input that is not of its format.
using ReadArchive = void (*)(ArchiveInput& input, ExtractionSink& sink);

// An archive file on disk, read for one call: every byte read counts on it, its siblings' too.
// Siblings are looked up in its folder only, ignoring ASCII case; a name with a slash, "..", or
// one that is not a regular file (a FIFO, a device) gives none.
class FileArchiveInput : public ArchiveInput {
 public:
  // Throws ArchiveError(kCannotOpen) naming the file when it is missing or not a regular file.
  FileArchiveInput(const std::string& path, FollowedCall& call);

  std::uint64_t size() const override { return size_; }
  std::size_t readAt(std::uint64_t position, void* data, std::size_t count) override;
  std::unique_ptr<ArchiveInput> openSibling(std::string_view name) override;

 private:
  std::string path_;
  FollowedCall& call_;
  FileDescriptor fd_;
  std::uint64_t size_ = 0;
};

// An archive held in memory, with its siblings by name (the fuzz targets' input). Its reads are
// nobody's progress.
class MemoryArchiveInput : public ArchiveInput {
 public:
  MemoryArchiveInput(std::string_view bytes, std::map<std::string, std::string> siblings = {})
      : bytes_(bytes), siblings_(std::move(siblings)) {}

  std::uint64_t size() const override { return bytes_.size(); }
  std::size_t readAt(std::uint64_t position, void* data, std::size_t count) override;
  std::unique_ptr<ArchiveInput> openSibling(std::string_view name) override;

 private:
  std::string_view bytes_;
  std::map<std::string, std::string> siblings_;
};

}  // namespace archivers
