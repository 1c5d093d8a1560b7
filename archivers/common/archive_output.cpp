#include "common/archive_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
  absoluteDestination_ = absolutePath(destination);
  // A desktop folder that does not exist yet is made, as extraction makes its destination.
  int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0 && errno == ENOENT && createFolders(folder, 0777)) {
    folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }
  if (folderFd < 0) fail("write", errno);
  folder_ = std::make_shared<OpenFolder>(folderFd);
  file_.emplace(folder_, 0666, kBufferSize, "cannot write", destination);
}

ArchiveOutput::~ArchiveOutput() = default;

void ArchiveOutput::fail(const char* what, int error) const {
  throw ArchiveError(Result::kWriteFailed,
                     std::string("cannot ") + what + ", " + std::strerror(error), destination_);
}

std::vector<FileIdentity> ArchiveOutput::ownFiles() const {
  std::vector<FileIdentity> files;
  struct stat status {};
  if (::fstat(file_->fd(), &status) == 0) files.push_back({status.st_dev, status.st_ino});
  if (::fstatat(folder_->fd, name_.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
    files.push_back({status.st_dev, status.st_ino});
  }
  return files;
}

void ArchiveOutput::write(const void* data, std::size_t size) {
  if (const int error = file_->append(data, size)) fail("write", error);
}

void ArchiveOutput::writeAt(std::uint64_t offset, const void* data, std::size_t size) {
  if (const int error = file_->writeAt(offset, data, size)) fail("write", error);
}

void ArchiveOutput::makeExecutable() {
  if (const int error = file_->makeExecutable()) fail("write", error);
}

void ArchiveOutput::commit() {
  call_.checkpoint();
  if (const int error = file_->complete()) fail("write", error);
  if (::fsync(file_->fd()) != 0) fail("write", errno);
  // The archive takes its name in one step: an older one under the name is compared with it while
  // it has none, and goes to the Trash unless it holds the same bytes.
  switch (file_->land(name_, absoluteDestination_, call_)) {
    case Landing::kPlaced:
      break;
    case Landing::kFolderThere:
      fail("write", EISDIR);
    case Landing::kFailed:
      fail("write", errno);
  }
  ::fsync(folder_->fd);  // the new name's durability; the archive itself is complete either way
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
