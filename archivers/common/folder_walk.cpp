#include "common/folder_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/archive_error.h"
#include "common/progress.h"

namespace archivers {
namespace {

[[noreturn]] void throwUnreadable(const std::string& path, int error) {
  throw ArchiveError(Result::kCannotOpen, std::string("cannot read, ") + std::strerror(error),
                     path.empty() ? "." : path);
}

std::string joined(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

std::int64_t nanoseconds(const timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

[[noreturn]] void throwChanged(const std::string& path) {
  throw ArchiveError(Result::kCannotOpen, "cannot read, it changed while being packed", path);
}

const char* otherTypeReason(mode_t mode) {
  if (S_ISFIFO(mode)) return "named pipe";
  if (S_ISSOCK(mode)) return "socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "device";
  return "not a file or folder";
}

struct DirectoryCloser {
  void operator()(DIR* directory) const { closedir(directory); }
};

}  // namespace

FileIdentity identityOf(const struct stat& status) {
  return {status.st_dev, status.st_ino};
}

ChangeStamp changeStampOf(const struct stat& status) {
  return {nanoseconds(status.st_mtim), nanoseconds(status.st_ctim)};
}

WalkFile::~WalkFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t WalkFile::read(void* data, std::size_t count) {
  const std::size_t got = readAt(data, count, position_);
  position_ += got;
  return got;
}

std::size_t WalkFile::readAt(void* data, std::size_t count, std::uint64_t offset) {
  for (;;) {
    const ssize_t got = ::pread(fd_, data, count, static_cast<off_t>(offset));
    call_.checkpoint();
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throwUnreadable(path_, errno);
    if (got > 0 && offset + static_cast<std::uint64_t>(got) >= size_) checkUnchanged();
    return static_cast<std::size_t>(got);
  }
}

void WalkFile::seek(std::uint64_t offset) {
  position_ = offset;
}

void WalkFile::checkUnchanged() const {
  struct stat status {};
  if (::fstat(fd_, &status) != 0) throwUnreadable(path_, errno);
  if (static_cast<std::uint64_t>(status.st_size) != size_ || !(changeStampOf(status) == stamp_)) {
    throwChanged(path_);
  }
}

FolderWalk::FolderWalk(std::vector<FileIdentity> excluded, bool recursive, FollowedCall& call,
                       NameRule unholdable)
    : excluded_(std::move(excluded)),
      recursive_(recursive),
      call_(call),
      unholdable_(std::move(unholdable)) {
  rootFd_ = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (rootFd_ < 0) throwUnreadable(".", errno);
  char path[PATH_MAX];
  if (::getcwd(path, sizeof path) == nullptr) {
    const int error = errno;
    ::close(rootFd_);
    throwUnreadable(".", error);
  }
  rootPath_ = path;
}

FolderWalk::~FolderWalk() {
  if (cachedFolderFd_ >= 0) ::close(cachedFolderFd_);
  ::close(rootFd_);
}

bool FolderWalk::isExcluded(const FileIdentity& identity) const {
  return std::find(excluded_.begin(), excluded_.end(), identity) != excluded_.end();
}

void FolderWalk::walk(const std::function<void(const WalkEntry&)>& visit) {
  struct stat status {};
  if (::fstat(rootFd_, &status) != 0) throwUnreadable(".", errno);
  enteredFolders_ = {identityOf(status)};
  const int fd = ::dup(rootFd_);
  if (fd < 0) throwUnreadable(".", errno);
  walkFolder(fd, "", visit);
}

void FolderWalk::skip(std::string path, std::string reason) {
  skipped_.push_back({std::move(path), std::move(reason)});
}

void FolderWalk::walkFolder(int folderFd, const std::string& path,
                            const std::function<void(const WalkEntry&)>& visit) {
  const std::unique_ptr<DIR, DirectoryCloser> directory(::fdopendir(folderFd));
  if (!directory) {
    const int error = errno;
    ::close(folderFd);
    throwUnreadable(path, error);
  }
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* item = ::readdir(directory.get())) {
    const std::string_view name = item->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
    errno = 0;
  }
  if (errno != 0) throwUnreadable(path, errno);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    visitEntry(folderFd, name, joined(path, name), visit);
  }
}

void FolderWalk::visitEntry(int folderFd, const std::string& name, const std::string& path,
                            const std::function<void(const WalkEntry&)>& visit) {
  struct stat status {};
  if (::fstatat(folderFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return;  // gone since the folder was listed
    throwUnreadable(path, errno);
  }
  if (isExcluded(identityOf(status))) return;
  if (unholdable_) {
    const WalkEntryType type =
        S_ISDIR(status.st_mode) ? WalkEntryType::kFolder : WalkEntryType::kFile;
    if (const char* reason = unholdable_(path, type)) return skip(path, reason);
  }
  std::string source = path;
  if (S_ISLNK(status.st_mode)) {
    source = insideTarget(path);
    if (source.empty()) return;
    if (::fstatat(rootFd_, source.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        S_ISLNK(status.st_mode)) {
      return skip(path, "link that changed while packing");
    }
    if (isExcluded(identityOf(status))) return;
    // Its folder is packed where it really lies; following the link as well would pack it twice,
    // and links between folders could multiply that without end.
    if (S_ISDIR(status.st_mode)) {
      if (recursive_) skip(path, "link to a folder");
      return;
    }
  }
  WalkEntry entry{path,
                  source,
                  WalkEntryType::kFile,
                  0,
                  status.st_mtime,
                  static_cast<std::uint32_t>(status.st_mode & 07777),
                  identityOf(status),
                  changeStampOf(status)};
  if (S_ISREG(status.st_mode)) {
    entry.size = static_cast<std::uint64_t>(status.st_size);
    visit(entry);
    return;
  }
  if (!S_ISDIR(status.st_mode)) return skip(path, otherTypeReason(status.st_mode));
  if (!recursive_) return;
  // Reached a second time only through a bind mount or the like.
  if (!enteredFolders_.insert(entry.identity).second) {
    return skip(path, "folder already packed under another name");
  }
  entry.type = WalkEntryType::kFolder;
  visit(entry);
  const int childFd =
      ::openat(folderFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (childFd < 0) throwUnreadable(path, errno);
  walkFolder(childFd, path, visit);
}

std::string FolderWalk::insideTarget(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath((rootPath_ + "/" + path).c_str(), resolved) == nullptr) {
    skip(path, errno == ENOENT ? "link to nothing" : "link that cannot be followed");
    return {};
  }
  const std::string_view target = resolved;
  const std::string prefix = rootPath_ == "/" ? rootPath_ : rootPath_ + "/";
  if (target.size() <= prefix.size() || target.substr(0, prefix.size()) != prefix) {
    skip(path,
         target == rootPath_ ? "link to a folder that holds it" : "link to outside the folder");
    return {};
  }
  return std::string(target.substr(prefix.size()));
}

int FolderWalk::openSourceFolder(const std::string& sourcePath) {
  int fd = ::dup(rootFd_);
  std::size_t start = 0;
  while (fd >= 0 && start < sourcePath.size()) {
    std::size_t end = sourcePath.find('/', start);
    if (end == std::string::npos) end = sourcePath.size();
    const std::string component = sourcePath.substr(start, end - start);
    const int next =
        ::openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int error = errno;
    ::close(fd);
    errno = error;
    fd = next;
    start = end + 1;
  }
  return fd;
}

WalkFile FolderWalk::open(const WalkEntry& entry) {
  call_.setMember(entry.path);
  const std::size_t slash = entry.sourcePath.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : entry.sourcePath.substr(0, slash);
  const std::string name =
      slash == std::string::npos ? entry.sourcePath : entry.sourcePath.substr(slash + 1);
  if (cachedFolderFd_ < 0 || folder != cachedFolderPath_) {
    if (cachedFolderFd_ >= 0) ::close(cachedFolderFd_);
    cachedFolderFd_ = openSourceFolder(folder);
    if (cachedFolderFd_ < 0) throwUnreadable(entry.path, errno);
    cachedFolderPath_ = folder;
  }
  const int fd =
      ::openat(cachedFolderFd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throwUnreadable(entry.path, errno);
  WalkFile file(fd, entry, call_);
  struct stat status {};
  if (::fstat(fd, &status) != 0) throwUnreadable(entry.path, errno);
  // A change since the walk counts too: the file's size and time were taken from the walk, and a
  // file read in pieces (a cabinet codes one in several tasks) is opened once for each.
  if (!S_ISREG(status.st_mode) || !(identityOf(status) == entry.identity) ||
      static_cast<std::uint64_t>(status.st_size) != entry.size ||
      !(changeStampOf(status) == entry.stamp)) {
    throwChanged(entry.path);
  }
  return file;
}

std::string describeSkipped(const std::vector<SkippedEntry>& skipped, std::size_t named) {
  if (skipped.empty()) return {};
  const std::size_t count = skipped.size();
  std::string text = std::to_string(count) + (count == 1 ? " item was" : " items were") +
                     " left out of the archive: ";
  const std::size_t shown = std::min(named, count);
  for (std::size_t i = 0; i < shown; ++i) {
    if (i > 0) text += "; ";
    text += skipped[i].reason + ": " + skipped[i].path;
  }
  if (shown < count) text += "; and " + std::to_string(count - shown) + " more";
  return text;
}

}  // namespace archivers
