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

namespace archivers {
namespace {

[[noreturn]] void throwUnreadable(const std::string& path, int error) {
  throw ArchiveError(Result::kCannotOpen,
                     "cannot read " + (path.empty() ? "." : path) + ": " + std::strerror(error));
}

std::string joined(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

FileIdentity identityOf(const struct stat& status) {
  return {status.st_dev, status.st_ino};
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

WalkFile::~WalkFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t WalkFile::read(void* data, std::size_t count) {
  for (;;) {
    const ssize_t got = ::read(fd_, data, count);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) throwUnreadable(path_, errno);
  }
}

FolderWalk::FolderWalk(std::vector<FileIdentity> excluded, bool recursive)
    : excluded_(std::move(excluded)), recursive_(recursive) {
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
  openFolders_ = {identityOf(status)};
  const int fd = ::dup(rootFd_);
  if (fd < 0) throwUnreadable(".", errno);
  walkFolder(fd, "", "", visit);
}

void FolderWalk::walkFolder(int folderFd, const std::string& path, const std::string& sourcePath,
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
    visitEntry(folderFd, name, joined(path, name), joined(sourcePath, name), visit);
  }
}

void FolderWalk::visitEntry(int folderFd, const std::string& name, const std::string& path,
                            const std::string& sourcePath,
                            const std::function<void(const WalkEntry&)>& visit) {
  struct stat status {};
  if (::fstatat(folderFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return;  // gone since the folder was listed
    throwUnreadable(path, errno);
  }
  if (isExcluded(identityOf(status))) return;
  std::string source = sourcePath;
  const bool followsLink = S_ISLNK(status.st_mode);
  if (followsLink) {
    source = insideTarget(path, sourcePath);
    if (source.empty()) return;
    if (::fstatat(rootFd_, source.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        S_ISLNK(status.st_mode)) {
      skipped_.push_back({path, "link that changed while packing"});
      return;
    }
    if (isExcluded(identityOf(status))) return;
  }
  WalkEntry entry{path,
                  source,
                  WalkEntryType::kFile,
                  0,
                  status.st_mtime,
                  static_cast<std::uint32_t>(status.st_mode & 07777),
                  identityOf(status)};
  if (S_ISREG(status.st_mode)) {
    entry.size = static_cast<std::uint64_t>(status.st_size);
    visit(entry);
    return;
  }
  if (!S_ISDIR(status.st_mode)) {
    skipped_.push_back({path, otherTypeReason(status.st_mode)});
    return;
  }
  if (!recursive_) return;
  if (std::find(openFolders_.begin(), openFolders_.end(), entry.identity) != openFolders_.end()) {
    skipped_.push_back({path, "link to a folder that holds it"});
    return;
  }
  entry.type = WalkEntryType::kFolder;
  visit(entry);
  const int childFd = followsLink ? openSourceFolder(source)
                                  : ::openat(folderFd, name.c_str(),
                                             O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (childFd < 0) throwUnreadable(path, errno);
  openFolders_.push_back(entry.identity);
  walkFolder(childFd, path, source, visit);
  openFolders_.pop_back();
}

std::string FolderWalk::insideTarget(const std::string& path, const std::string& sourcePath) {
  char resolved[PATH_MAX];
  if (::realpath((rootPath_ + "/" + sourcePath).c_str(), resolved) == nullptr) {
    skipped_.push_back(
        {path, errno == ENOENT ? "link to nothing" : "link that cannot be followed"});
    return {};
  }
  const std::string_view target = resolved;
  const std::string prefix = rootPath_ == "/" ? rootPath_ : rootPath_ + "/";
  if (target.size() <= prefix.size() || target.substr(0, prefix.size()) != prefix) {
    skipped_.push_back({path, target == rootPath_ ? "link to a folder that holds it"
                                                  : "link to outside the folder"});
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
  WalkFile file(fd, entry.path);
  struct stat status {};
  if (::fstat(fd, &status) != 0) throwUnreadable(entry.path, errno);
  if (!S_ISREG(status.st_mode) || !(identityOf(status) == entry.identity) ||
      static_cast<std::uint64_t>(status.st_size) != entry.size) {
    throw ArchiveError(Result::kCannotOpen,
                       "cannot read " + entry.path + ": it changed while being packed");
  }
  return file;
}

std::string describeSkipped(const std::vector<SkippedEntry>& skipped, std::size_t named) {
  if (skipped.empty()) return {};
  std::string text = "left out: ";
  const std::size_t shown = std::min(named, skipped.size());
  for (std::size_t i = 0; i < shown; ++i) {
    if (i > 0) text += i + 1 == shown && shown == skipped.size() ? " and " : ", ";
    text += skipped[i].path + " (" + skipped[i].reason + ")";
  }
  if (shown < skipped.size()) text += " and " + std::to_string(skipped.size() - shown) + " more";
  return text;
}

}  // namespace archivers
