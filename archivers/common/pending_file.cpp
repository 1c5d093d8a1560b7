#include "common/pending_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "common/archive_error.h"

namespace archivers {
namespace {

// Linking an unnamed file into place goes through /proc (AT_EMPTY_PATH would need a capability).
bool unnamedFilesPossible() {
  static const bool possible = ::access("/proc/self/fd", X_OK) == 0;
  return possible;
}

}  // namespace

PendingFile::PendingFile(std::shared_ptr<OpenFolder> folder, unsigned permissions,
                         std::size_t bufferBytes, std::string_view failure, std::string_view name)
    : folder_(std::move(folder)), bufferBytes_(bufferBytes) {
  const int folderFd = folder_->fd;
  const auto mode = static_cast<mode_t>(permissions);
  if (unnamedFilesPossible()) {
    fd_ = ::openat(folderFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    // A file system or kernel without unnamed files says so; any other failure (no permission, a
    // full disk) would fail a named file as well.
    if (fd_ < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      throwWriteFailed(failure, errno, name);
    }
  }
  if (fd_ < 0) {
    const std::optional<std::string> temporary =
        createUnderTemporaryName([&](const char* candidate) {
          return fd_ = ::openat(folderFd, candidate,
                                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        });
    if (!temporary) throwWriteFailed(failure, errno, name);
    temporaryName_ = *temporary;
  }
}

PendingFile::~PendingFile() {
  discard();
}

int PendingFile::writeOut(const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd_, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return written < 0 ? errno : ENOSPC;
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
}

int PendingFile::flush() {
  if (buffer_.empty()) return 0;
  const int error = writeOut(buffer_.data(), buffer_.size());
  buffer_.clear();
  return error;
}

int PendingFile::append(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  if (buffer_.size() + size > bufferBytes_) {
    if (const int error = flush()) return error;
  }
  if (size >= bufferBytes_) {
    if (const int error = writeOut(bytes, size)) return error;
  } else {
    buffer_.insert(buffer_.end(), bytes, bytes + size);
  }
  size_ += size;
  if (size > 0) endsInHole_ = false;
  return 0;
}

int PendingFile::skip(std::uint64_t count) {
  if (count == 0) return 0;
  if (const int error = flush()) return error;
  if (::lseek(fd_, static_cast<off_t>(count), SEEK_CUR) < 0) return errno;
  size_ += count;
  endsInHole_ = true;
  return 0;
}

int PendingFile::writeAt(std::uint64_t offset, const void* data, std::size_t size) {
  if (const int error = flush()) return error;
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::pwrite(fd_, bytes, size, static_cast<off_t>(offset));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return written < 0 ? errno : ENOSPC;
    bytes += written;
    size -= static_cast<std::size_t>(written);
    offset += static_cast<std::uint64_t>(written);
  }
  return 0;
}

int PendingFile::complete() {
  if (const int error = flush()) return error;
  if (endsInHole_ && ::ftruncate(fd_, static_cast<off_t>(size_)) != 0) return errno;
  return 0;
}

void PendingFile::setTime(std::int64_t mtime) {
  const timespec times[2] = {{0, UTIME_NOW}, {static_cast<time_t>(mtime), 0}};
  ::futimens(fd_, times);
}

int PendingFile::makeExecutable() {
  struct stat status {};
  if (::fstat(fd_, &status) != 0) return errno;
  const mode_t permissions = status.st_mode & 0777;
  if (::fchmod(fd_, permissions | ((permissions & 0444) >> 2)) != 0) return errno;
  return 0;
}

Landing PendingFile::land(const std::string& name, const std::string& absolutePath,
                          FollowedCall& call) {
  const int folderFd = folder_->fd;
  const auto make = fileLanding(folderFd, fd_, temporaryName_.empty() ? nullptr : &temporaryName_);
  const Landing landing = landAt(folderFd, name, absolutePath, fd_, make, call);
  if (landing == Landing::kPlaced) {
    temporaryName_.clear();
    ::close(fd_);
    fd_ = -1;
    folder_.reset();
  }
  return landing;
}

void PendingFile::discard() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (folder_ != nullptr && !temporaryName_.empty()) {
    ::unlinkat(folder_->fd, temporaryName_.c_str(), 0);
  }
  temporaryName_.clear();
  folder_.reset();
}

}  // namespace archivers
