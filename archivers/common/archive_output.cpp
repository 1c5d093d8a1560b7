#include "common/archive_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "common/archive_error.h"
#include "common/landing.h"
#include "common/posix_files.h"
#include "common/progress.h"

namespace archivers {
namespace {

constexpr std::size_t kBufferSize = 1 << 20;

}  // namespace

ArchiveOutput::ArchiveOutput(const std::string& destination, FollowedCall& call)
    : destination_(destination), call_(call) {
  call_.setArchive(destination);
  const std::size_t slash = destination.rfind('/');
  name_ = slash == std::string::npos ? destination : destination.substr(slash + 1);
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : destination.substr(0, slash);
  if (name_.empty() || name_ == "." || name_ == "..") {
    throw ArchiveError(Result::kWriteFailed, "cannot write, no file name", destination);
  }
  absoluteDestination_ = destination;
  if (destination.front() != '/') {
    char* current = ::getcwd(nullptr, 0);
    if (current != nullptr) absoluteDestination_ = std::string(current) + "/" + destination;
    std::free(current);
  }
  // A desktop folder that does not exist yet is made, as extraction makes its destination.
  folderFd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd_ < 0 && errno == ENOENT && createFolders(folder, 0777)) {
    folderFd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }
  if (folderFd_ < 0) fail("write", errno);
  // Linking an unnamed file into place goes through /proc (AT_EMPTY_PATH would need a capability).
  if (::access("/proc/self/fd", X_OK) == 0) {
    fd_ = ::openat(folderFd_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  }
  if (fd_ < 0) {
    const std::optional<std::string> temporary = createUnderTemporaryName([&](const char* name) {
      return fd_ = ::openat(folderFd_, name, O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC,
                            0666);
    });
    if (temporary) temporaryName_ = *temporary;
  }
  if (fd_ < 0) {
    const int error = errno;
    temporaryName_.clear();
    ::close(folderFd_);
    fail("write", error);
  }
  buffer_.reserve(kBufferSize);
}

ArchiveOutput::~ArchiveOutput() {
  if (!committed_ && !temporaryName_.empty()) ::unlinkat(folderFd_, temporaryName_.c_str(), 0);
  ::close(fd_);
  ::close(folderFd_);
}

void ArchiveOutput::fail(const char* what, int error) const {
  throw ArchiveError(Result::kWriteFailed,
                     std::string("cannot ") + what + ", " + std::strerror(error), destination_);
}

std::vector<FileIdentity> ArchiveOutput::ownFiles() const {
  std::vector<FileIdentity> files;
  struct stat status {};
  if (::fstat(fd_, &status) == 0) files.push_back({status.st_dev, status.st_ino});
  if (::fstatat(folderFd_, name_.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
    files.push_back({status.st_dev, status.st_ino});
  }
  return files;
}

void ArchiveOutput::write(const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  if (buffer_.size() + size > kBufferSize) flush();
  if (size >= kBufferSize) {
    writeOut(size_, bytes, size);
  } else {
    buffer_.insert(buffer_.end(), bytes, bytes + size);
  }
  size_ += size;
}

void ArchiveOutput::writeAt(std::uint64_t offset, const void* data, std::size_t size) {
  flush();
  writeOut(offset, static_cast<const char*>(data), size);
}

void ArchiveOutput::flush() {
  if (buffer_.empty()) return;
  writeOut(size_ - buffer_.size(), buffer_.data(), buffer_.size());
  buffer_.clear();
}

void ArchiveOutput::writeOut(std::uint64_t offset, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::pwrite(fd_, bytes, size, static_cast<off_t>(offset));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) fail("write", written < 0 ? errno : ENOSPC);
    bytes += written;
    size -= static_cast<std::size_t>(written);
    offset += static_cast<std::uint64_t>(written);
  }
}

void ArchiveOutput::makeExecutable() {
  struct stat status {};
  if (::fstat(fd_, &status) != 0) fail("write", errno);
  const mode_t permissions = status.st_mode & 0777;
  if (::fchmod(fd_, permissions | ((permissions & 0444) >> 2)) != 0) fail("write", errno);
}

void ArchiveOutput::commit() {
  call_.checkpoint();
  flush();
  if (::fsync(fd_) != 0) fail("write", errno);
  // The archive takes its name in one step: an older one under the name is compared with it while
  // it has none, and goes to the Trash unless it holds the same bytes.
  const auto make = fileLanding(folderFd_, fd_, temporaryName_.empty() ? nullptr : &temporaryName_);
  switch (landAt(folderFd_, name_, absoluteDestination_, fd_, make, call_)) {
    case Landing::kPlaced:
      break;
    case Landing::kFolderThere:
      fail("write", EISDIR);
    case Landing::kFailed:
      fail("write", errno);
  }
  committed_ = true;
  ::fsync(folderFd_);  // the new name's durability; the archive itself is complete either way
}

Outcome ArchiveOutput::summary(std::size_t files, std::optional<std::size_t> folders,
                               const std::vector<SkippedEntry>& skipped) const {
  const auto counted = [](std::size_t count, const char* what) {
    return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
  };
  std::string packed = counted(files, "file");
  if (folders && *folders > 0) packed += " and " + counted(*folders, "folder");
  if (skipped.empty()) return packed + " packed into " + name_;
  return {describeSkipped(skipped) + " (" + packed + " packed)", Result::kLeftOut};
}

}  // namespace archivers
