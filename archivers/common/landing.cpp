#include "common/landing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/progress.h"
#include "common/trash.h"

namespace archivers {
namespace {

constexpr int kNameAttempts = 100;
constexpr int kLandingAttempts = 16;

struct Identity {
  dev_t device = 0;
  ino_t inode = 0;
  bool known = false;
};

// Whether the regular file fd holds what contentFd holds: sizes first, bytes only when they match.
// Long comparisons (archives of hundreds of megabytes) stay stoppable.
bool sameContent(int fd, int contentFd, FollowedCall& call) {
  struct stat theirs {};
  struct stat ours {};
  if (contentFd < 0 || ::fstat(fd, &theirs) != 0 || ::fstat(contentFd, &ours) != 0) return false;
  if (!S_ISREG(theirs.st_mode)) return false;
  if (ours.st_dev == theirs.st_dev && ours.st_ino == theirs.st_ino) return true;
  if (ours.st_size != theirs.st_size) return false;
  constexpr std::size_t kChunk = 256 * 1024;
  std::vector<char> theirBytes(kChunk), ourBytes(kChunk);
  for (off_t offset = 0; offset < theirs.st_size;) {
    call.checkpoint();
    const ssize_t got = ::pread(fd, theirBytes.data(), kChunk, offset);
    if (got <= 0 ||
        ::pread(contentFd, ourBytes.data(), static_cast<std::size_t>(got), offset) != got ||
        std::memcmp(theirBytes.data(), ourBytes.data(), static_cast<std::size_t>(got)) != 0) {
      return false;
    }
    offset += got;
  }
  return true;
}

// The same for the regular file at name; identity is where its inode is recorded.
bool sameContentAt(int folderFd, const char* name, int contentFd, Identity& identity,
                   FollowedCall& call) {
  if (contentFd < 0) return false;
  const int fd =
      ::openat(folderFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat status {};
  bool same = false;
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
    identity = {status.st_dev, status.st_ino, true};
    same = sameContent(fd, contentFd, call);
  }
  ::close(fd);
  return same;
}

// Whether two links in a folder hold the same text.
bool sameLinks(int folderFd, const char* first, const char* second) {
  std::string texts[2];
  const char* names[2] = {first, second};
  for (int i = 0; i < 2; ++i) {
    texts[i].resize(4096);
    const ssize_t size = ::readlinkat(folderFd, names[i], texts[i].data(), texts[i].size());
    if (size < 0 || static_cast<std::size_t>(size) == texts[i].size()) return false;
    texts[i].resize(static_cast<std::size_t>(size));
  }
  return texts[0] == texts[1];
}

bool exchange(int folderFd, const char* first, const char* second) {
  return ::renameat2(folderFd, first, folderFd, second, RENAME_EXCHANGE) == 0;
}

// Deals with what the swap moved to temporary: removed when it holds the new bytes (the
// comparison before the swap said so, or, when another entry came in between, a look at that
// one) or is a link with the new link's text, else sent to the Trash. A folder, a Trash that
// fails, or a stop while it is compared, puts it back.
Landing settleDisplaced(int folderFd, const std::string& name, const std::string& temporary,
                        const std::string& absolutePath, int contentFd, const Identity& compared,
                        bool comparedSame, FollowedCall& call) {
  struct stat displaced {};
  if (::fstatat(folderFd, temporary.c_str(), &displaced, AT_SYMLINK_NOFOLLOW) != 0) {
    return Landing::kPlaced;  // gone meanwhile
  }
  if (S_ISDIR(displaced.st_mode)) {
    exchange(folderFd, temporary.c_str(), name.c_str());
    ::unlinkat(folderFd, temporary.c_str(), 0);
    return Landing::kFolderThere;
  }
  const bool isCompared =
      compared.known && displaced.st_dev == compared.device && displaced.st_ino == compared.inode;
  try {
    Identity ignored;
    const bool same = isCompared ? comparedSame
                      : S_ISLNK(displaced.st_mode)
                          ? sameLinks(folderFd, temporary.c_str(), name.c_str())
                          : S_ISREG(displaced.st_mode) && sameContentAt(folderFd, temporary.c_str(),
                                                                        contentFd, ignored, call);
    if (same) {
      ::unlinkat(folderFd, temporary.c_str(), 0);
    } else {
      moveToTrash(folderFd, temporary, absolutePath);
    }
  } catch (...) {
    // A stop during the comparison, or a Trash that failed: what stood there goes back to its
    // name rather than stay hidden under the temporary one.
    exchange(folderFd, temporary.c_str(), name.c_str());
    ::unlinkat(folderFd, temporary.c_str(), 0);
    throw;
  }
  return Landing::kPlaced;
}

}  // namespace

std::string absolutePath(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  std::string absolute = path;
  if (char* current = ::getcwd(nullptr, 0)) {
    absolute = std::string(current) + "/" + path;
    std::free(current);
  }
  return absolute;
}

std::string temporaryName() {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::string name = ".parvo-";
  for (int i = 0; i < 6; ++i) name.push_back(kLetters[random() % (sizeof kLetters - 1)]);
  return name;
}

std::optional<std::string> createUnderTemporaryName(const std::function<int(const char*)>& make) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string candidate = temporaryName();
    if (make(candidate.c_str()) >= 0) return candidate;
    if (errno != EEXIST) return std::nullopt;
  }
  errno = EEXIST;
  return std::nullopt;
}

std::function<int(const char*)> fileLanding(int folderFd, int fd, std::string* temporaryName) {
  if (temporaryName == nullptr) {
    return [folderFd, fd](const char* candidate) {
      // Kernels since 6.10 link a file its opener made without /proc's path walk; older ones
      // refuse AT_EMPTY_PATH without a capability, with ENOENT, and are asked through /proc.
      static std::atomic<bool> emptyPathRefused{false};
      const bool tryEmptyPath = !emptyPathRefused.load(std::memory_order_relaxed);
      if (tryEmptyPath) {
        if (::linkat(fd, "", folderFd, candidate, AT_EMPTY_PATH) == 0) return 0;
        if (errno != ENOENT && errno != EPERM) return -1;
      }
      const std::string self = "/proc/self/fd/" + std::to_string(fd);
      const int linked = ::linkat(AT_FDCWD, self.c_str(), folderFd, candidate, AT_SYMLINK_FOLLOW);
      if (linked == 0 && tryEmptyPath) emptyPathRefused.store(true, std::memory_order_relaxed);
      return linked;
    };
  }
  return [folderFd, temporaryName](const char* candidate) {
    if (::renameat2(folderFd, temporaryName->c_str(), folderFd, candidate, RENAME_NOREPLACE) != 0) {
      return -1;
    }
    *temporaryName = candidate;
    return 0;
  };
}

Landing landAt(int folderFd, const std::string& name, const std::string& absolutePath,
               int contentFd, const std::function<int(const char*)>& make, FollowedCall& call) {
  for (int attempt = 0; attempt < kLandingAttempts; ++attempt) {
    if (make(name.c_str()) >= 0) return Landing::kPlaced;
    if (errno != EEXIST) return Landing::kFailed;
    struct stat existing {};
    if (::fstatat(folderFd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(existing.st_mode)) return Landing::kFolderThere;
    Identity compared;
    const bool comparedSame = S_ISREG(existing.st_mode) &&
                              sameContentAt(folderFd, name.c_str(), contentFd, compared, call);
    const std::optional<std::string> temporary = createUnderTemporaryName(make);
    if (!temporary) return Landing::kFailed;
    if (exchange(folderFd, temporary->c_str(), name.c_str())) {
      return settleDisplaced(folderFd, name, *temporary, absolutePath, contentFd, compared,
                             comparedSame, call);
    }
    const int error = errno;
    if (error == ENOENT) {  // the name came free in between
      if (::renameat2(folderFd, temporary->c_str(), folderFd, name.c_str(), RENAME_NOREPLACE) ==
          0) {
        return Landing::kPlaced;
      }
      const int renameError = errno;
      ::unlinkat(folderFd, temporary->c_str(), 0);
      if (renameError == EEXIST) continue;
      errno = renameError;
      return Landing::kFailed;
    }
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP) {
      ::unlinkat(folderFd, temporary->c_str(), 0);
      errno = error;
      return Landing::kFailed;
    }
    // A file system that cannot swap: what stands there goes first, then the rename.
    try {
      if (!comparedSame) moveToTrash(folderFd, name, absolutePath);
    } catch (...) {
      ::unlinkat(folderFd, temporary->c_str(), 0);
      throw;
    }
    const bool renamed = ::renameat(folderFd, temporary->c_str(), folderFd, name.c_str()) == 0;
    const int renameError = errno;
    // A rename onto the same file (a hard link onto itself) leaves the temporary name in place.
    ::unlinkat(folderFd, temporary->c_str(), 0);
    if (renamed) return Landing::kPlaced;
    if (renameError == EISDIR || renameError == ENOTEMPTY) return Landing::kFolderThere;
    errno = renameError;
    return Landing::kFailed;
  }
  errno = EEXIST;
  return Landing::kFailed;
}

}  // namespace archivers
