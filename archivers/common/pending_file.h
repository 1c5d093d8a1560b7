#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/destination_walk.h"
#include "common/landing.h"

namespace archivers {

// A regular file being written where nobody sees it: an unnamed file (O_TMPFILE) in the folder it
// lands in where the file system allows, else a hidden temporary name there. It takes its own name
// only when it lands, complete; destroyed before, it leaves nothing behind (at worst the hidden
// name, when the process is killed where unnamed files are not possible). Extracted files and
// written archives are both pending files.
//
// The writing calls return 0, or the errno of the failing call, so that each owner words its
// failures itself.
class PendingFile {
 public:
  // Makes the file in folder, readable and writable (the landing compares it with a file it
  // replaces), with permissions as the kernel narrows them by the umask. Writes are gathered up to
  // bufferBytes. Throws ArchiveError(kWriteFailed), "FAILURE, REASON: NAME".
  PendingFile(std::shared_ptr<OpenFolder> folder, unsigned permissions, std::size_t bufferBytes,
              std::string_view failure, std::string_view name);
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile();

  // False once the file has landed or been discarded.
  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // The bytes appended and skipped so far, the gathered ones included.
  std::uint64_t size() const { return size_; }

  // Whether appending size bytes now writes to the disk, rather than only gathering them.
  bool writesOut(std::size_t size) const {
    return buffer_.size() + size > bufferBytes_ || size >= bufferBytes_;
  }
  int append(const void* data, std::size_t size);
  // Continues the file with count zero bytes left as a hole.
  int skip(std::uint64_t count);
  // Overwrites bytes already appended (header fields known only later).
  int writeAt(std::uint64_t offset, const void* data, std::size_t size);
  // Writes what is gathered and gives a file that ends in a hole its full length.
  int complete();

  // The modification time; a time the file system cannot hold leaves the file as it is.
  void setTime(std::int64_t mtime);
  // Lets whoever may read the file also run it (0644 becomes 0755).
  int makeExecutable();

  // Puts the complete file at name in its folder through landAt, known to the user as
  // absolutePath; long comparisons are checkpoints of call. Once placed, the file is closed and
  // lets its folder go.
  Landing land(const std::string& name, const std::string& absolutePath, FollowedCall& call);
  // Closes the file and removes it, when it has a name.
  void discard() noexcept;

 private:
  int writeOut(const char* bytes, std::size_t size);
  int flush();

  std::shared_ptr<OpenFolder> folder_;
  int fd_ = -1;
  std::string temporaryName_;  // empty for an unnamed file
  std::size_t bufferBytes_;
  std::vector<char> buffer_;
  std::uint64_t size_ = 0;
  bool endsInHole_ = false;
};

}  // namespace archivers
