#include "platform/posix/private_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string_view>
#include <vector>

namespace parvo {
namespace {

constexpr std::string_view kPrefix = "parvo-";
constexpr std::size_t kRandomLength = 6;  // mkdtemp's XXXXXX
// A folder is made under the hidden name and renamed once locked; one still hidden after this
// long was left by a process killed in between.
constexpr std::time_t kCreationLeftoverAge = 60 * 60;
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_;
};

bool isJobName(std::string_view name) {
  return name.size() == kPrefix.size() + kRandomLength && name.starts_with(kPrefix);
}

bool isCreationName(std::string_view name) {
  return name.starts_with('.') && isJobName(name.substr(1));
}

std::vector<std::string> namesIn(int folderFd) {
  std::vector<std::string> names;
  // A descriptor of its own: the listing moves its offset, and closedir closes it.
  const int listFd = openat(folderFd, ".", kFolderFlags);
  DIR* listing = listFd >= 0 ? fdopendir(listFd) : nullptr;
  if (listing == nullptr) {
    if (listFd >= 0) close(listFd);
    return names;
  }
  while (const dirent* entry = readdir(listing)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  closedir(listing);
  return names;
}

// Everything inside the folder, each sub-folder opened from its parent without following a link.
void removeContents(int folderFd) {
  for (const std::string& name : namesIn(folderFd)) {
    if (unlinkat(folderFd, name.c_str(), 0) == 0 || errno != EISDIR) continue;
    if (const Descriptor child(openat(folderFd, name.c_str(), kFolderFlags)); child) {
      removeContents(child.get());
    }
    unlinkat(folderFd, name.c_str(), AT_REMOVEDIR);
  }
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

void sweepAbandonedFolders(const std::string& base) {
  const Descriptor baseFd(open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!baseFd) return;
  const uid_t user = geteuid();
  for (const std::string& name : namesIn(baseFd.get())) {
    const bool leftover = isCreationName(name);
    if (!leftover && !isJobName(name)) continue;
    const Descriptor folder(openat(baseFd.get(), name.c_str(), kFolderFlags));
    struct stat opened {};
    if (!folder || fstat(folder.get(), &opened) != 0 || !S_ISDIR(opened.st_mode) ||
        opened.st_uid != user) {
      continue;
    }
    if (leftover && std::time(nullptr) - opened.st_mtime < kCreationLeftoverAge) continue;
    if (flock(folder.get(), LOCK_EX | LOCK_NB) != 0) continue;
    // Locked, but perhaps only after another sweep removed it and a new job took the name. Once
    // the lock is held the name stays bound: only holders remove these folders, and a new one
    // never replaces an existing name.
    struct stat named {};
    if (fstatat(baseFd.get(), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        !sameFile(opened, named)) {
      continue;
    }
    if (!leftover) removeContents(folder.get());
    unlinkat(baseFd.get(), name.c_str(), AT_REMOVEDIR);
  }
}

std::optional<LockedFolder> createLockedFolder(const std::string& base) {
  sweepAbandonedFolders(base);
  // Hidden from sweeps until it is locked.
  for (int attempt = 0; attempt < 10; ++attempt) {
    std::string hidden = base + "/." + std::string(kPrefix) + "XXXXXX";
    if (mkdtemp(hidden.data()) == nullptr) return std::nullopt;
    const std::string path = base + "/" + hidden.substr(base.size() + 2);
    const int fd = open(hidden.c_str(), kFolderFlags);
    // Where flock is not supported no sweep can lock the folder either, so it is safe unlocked.
    while (fd >= 0 && flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    int renamed =
        fd >= 0 ? renameat2(AT_FDCWD, hidden.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE)
                : -1;
    if (renamed != 0 && errno == EINVAL) {
      // A file system without RENAME_NOREPLACE: only a folder of the same random name, made in
      // the instant between the test and the rename, could be replaced.
      struct stat existing {};
      if (lstat(path.c_str(), &existing) == 0) {
        errno = EEXIST;
      } else {
        renamed = rename(hidden.c_str(), path.c_str());
      }
    }
    if (renamed == 0) return LockedFolder{path, fd};
    const int error = errno;
    if (fd >= 0) close(fd);
    rmdir(hidden.c_str());
    if (error != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

void removeLockedFolder(const LockedFolder& folder) noexcept {
  removeContents(folder.fd);
  rmdir(folder.path.c_str());
  close(folder.fd);
}

}  // namespace parvo
