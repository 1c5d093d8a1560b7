#include "common/trash.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "common/archive_error.h"
#include "common/member_path.h"
#include "common/utf8.h"

namespace archivers {
namespace {

constexpr std::string_view kInfoSuffix = ".trashinfo";

// A descriptor closed on scope exit.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

struct TrashFailure {
  int error;
};

[[noreturn]] void fail(int error) {
  throw TrashFailure{error};
}

struct TrashFolder {
  Descriptor files;
  Descriptor info;
};

// Opens name in parentFd as a folder, creating it private when missing. Links are not followed
// where the trash is shared with other users.
Descriptor openOrCreateFolder(int parentFd, const char* name, bool followLinks) {
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW);
  int fd = ::openat(parentFd, name, flags);
  if (fd < 0 && errno == ENOENT) {
    if (::mkdirat(parentFd, name, 0700) != 0 && errno != EEXIST) fail(errno);
    fd = ::openat(parentFd, name, flags);
  }
  if (fd < 0) fail(errno);
  return Descriptor(fd);
}

TrashFolder openTrashFolder(const Descriptor& trash) {
  return {openOrCreateFolder(trash.get(), "files", false),
          openOrCreateFolder(trash.get(), "info", false)};
}

std::string homeTrashPath() {
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') {
    return std::string(data) + "/Trash";
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    const passwd* user = ::getpwuid(::getuid());
    if (user == nullptr || user->pw_dir == nullptr) fail(ENOENT);
    home = user->pw_dir;
  }
  return std::string(home) + "/.local/share/Trash";
}

// The device of path, or of its closest existing ancestor when it is not made yet.
dev_t deviceOf(std::string path) {
  struct stat status {};
  while (::stat(path.c_str(), &status) != 0) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || path == "/") fail(errno);
    path = slash == 0 ? "/" : path.substr(0, slash);
  }
  return status.st_dev;
}

TrashFolder openHomeTrash(const std::string& path) {
  Descriptor folder(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  for (std::size_t start = 1; start < path.size();) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) {
      folder = openOrCreateFolder(folder.get(), path.substr(start, end - start).c_str(), true);
    }
    start = end + 1;
  }
  return openTrashFolder(folder);
}

// The top folder of the file system holding realFolder (a path without links), device dev.
std::string mountPointOf(const std::string& realFolder, dev_t dev) {
  std::string top = realFolder;
  while (top != "/") {
    const std::size_t slash = top.find_last_of('/');
    const std::string parent = slash == 0 ? "/" : top.substr(0, slash);
    struct stat status {};
    if (::stat(parent.c_str(), &status) != 0 || status.st_dev != dev) break;
    top = parent;
  }
  return top;
}

TrashFolder openTopTrash(const std::string& topdir) {
  Descriptor top(::open(topdir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!top.valid()) fail(errno);
  const std::string uid = std::to_string(::getuid());
  // An administrator's shared .Trash counts only when it is a real sticky folder.
  struct stat shared {};
  if (::fstatat(top.get(), ".Trash", &shared, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISDIR(shared.st_mode) && (shared.st_mode & S_ISVTX) != 0) {
    try {
      Descriptor sharedFd = openOrCreateFolder(top.get(), ".Trash", false);
      return openTrashFolder(openOrCreateFolder(sharedFd.get(), uid.c_str(), false));
    } catch (const TrashFailure&) {
    }
  }
  Descriptor own = openOrCreateFolder(top.get(), (".Trash-" + uid).c_str(), false);
  struct stat status {};
  if (::fstat(own.get(), &status) != 0) fail(errno);
  if (status.st_uid != ::getuid()) fail(EPERM);
  return openTrashFolder(own);
}

std::string escapedPath(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
        (byte >= '0' && byte <= '9') || std::strchr("-._~/", c) != nullptr) {
      out.push_back(c);
    } else {
      out += {'%', kHex[byte >> 4], kHex[byte & 15]};
    }
  }
  return out;
}

std::string localTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

// The name with room left for a number and the info suffix, cut between UTF-8 characters.
std::string shortenedName(const std::string& name) {
  return name.substr(0, utf8PrefixLength(name, kMaxNameBytes - kInfoSuffix.size() - 8));
}

// "report.pdf", "report.2.pdf", "report.3.pdf"...: the number goes before the extensions.
std::string numbered(const std::string& name, std::uint64_t number) {
  if (number == 1) return name;
  std::size_t dot = name.find('.', 1);
  if (dot == std::string::npos) dot = name.size();
  return name.substr(0, dot) + "." + std::to_string(number) + name.substr(dot);
}

// Where the search for a free number starts, per name: after the number this process last took,
// so that a thousand files of one name cost a thousand tries, not half a million. Another run's
// numbers are passed over by doubling to a free number, then halving back to the lowest free one
// above the taken ones: a few tries, and the numbers stay as many as the copies.
class TrashNumbers {
 public:
  std::uint64_t first(const std::string& name) {
    const std::lock_guard lock(mutex_);
    const auto found = next_.find(name);
    return found == next_.end() ? 1 : found->second;
  }
  void taken(const std::string& name, std::uint64_t number) {
    const std::lock_guard lock(mutex_);
    next_[name] = number + 1;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, std::uint64_t> next_;
};

TrashNumbers& trashNumbers() {
  static TrashNumbers numbers;
  return numbers;
}

void writeInfo(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t count = ::write(fd, text.data() + done, text.size() - done);
    if (count < 0 && errno != EINTR) fail(errno);
    if (count > 0) done += static_cast<std::size_t>(count);
  }
}

// The entry `name` in folderFd goes into the trash as shownName, recorded as from originalPath.
void moveInto(const TrashFolder& trash, int folderFd, const std::string& name,
              const std::string& shownName, const std::string& originalPath) {
  const std::string info =
      "[Trash Info]\nPath=" + escapedPath(originalPath) + "\nDeletionDate=" + localTimeNow() + "\n";
  const std::string base = shortenedName(shownName);
  TrashNumbers& numbers = trashNumbers();
  const auto inUse = [&](std::uint64_t number) {
    struct stat status {};
    const std::string trashName = numbered(base, number);
    return ::fstatat(trash.info.get(), (trashName + std::string(kInfoSuffix)).c_str(), &status,
                     AT_SYMLINK_NOFOLLOW) == 0 ||
           ::fstatat(trash.files.get(), trashName.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
  };
  std::uint64_t number = numbers.first(base);
  for (int attempt = 0; attempt < 100; ++attempt, number = number + 1) {
    std::uint64_t below = number - 1;  // taken, or 0
    while (inUse(number)) {
      below = number;
      number = number < 8 || number > (std::uint64_t{1} << 62) ? number + 1 : number * 2;
    }
    while (number - below > 1) {
      const std::uint64_t middle = below + (number - below) / 2;
      (inUse(middle) ? below : number) = middle;
    }
    const std::string trashName = numbered(base, number);
    const std::string infoName = trashName + std::string(kInfoSuffix);
    // The info file reserves the name; it exists before the entry so no entry is left without.
    Descriptor infoFd(::openat(trash.info.get(), infoName.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!infoFd.valid()) {
      if (errno == EEXIST) continue;
      fail(errno);
    }
    try {
      writeInfo(infoFd.get(), info);
    } catch (const TrashFailure&) {
      ::unlinkat(trash.info.get(), infoName.c_str(), 0);
      throw;
    }
    if (::renameat2(folderFd, name.c_str(), trash.files.get(), trashName.c_str(),
                    RENAME_NOREPLACE) == 0) {
      numbers.taken(base, number);
      return;
    }
    const int error = errno;
    ::unlinkat(trash.info.get(), infoName.c_str(), 0);
    if (error != EEXIST) fail(error);  // an entry left in files/ without its info file
  }
  fail(EEXIST);
}

}  // namespace

void moveToTrash(int folderFd, const std::string& name, const std::string& absolutePath) {
  try {
    struct stat folder {};
    if (::fstat(folderFd, &folder) != 0) fail(errno);
    // The entry may stand under a temporary name; the Trash shows it under the one it had.
    const std::size_t slash = absolutePath.find_last_of('/');
    const std::string leaf = absolutePath.substr(slash + 1);
    const std::string homeTrash = homeTrashPath();
    if (deviceOf(homeTrash) == folder.st_dev) {
      moveInto(openHomeTrash(homeTrash), folderFd, name, leaf, absolutePath);
      return;
    }
    // Elsewhere Path= is relative to the file system's top, found from the folder's real path.
    const std::string parent = slash == 0 ? "/" : absolutePath.substr(0, slash);
    char* real = ::realpath(parent.c_str(), nullptr);
    if (real == nullptr) fail(errno);
    const std::string realFolder = real;
    ::free(real);
    const std::string topdir = mountPointOf(realFolder, folder.st_dev);
    std::string relative = realFolder == topdir ? "" : realFolder.substr(topdir.size() + 1);
    if (topdir == "/") relative = realFolder.substr(1);
    relative += (relative.empty() ? "" : "/") + leaf;
    moveInto(openTopTrash(topdir), folderFd, name, leaf, relative);
  } catch (const TrashFailure& failure) {
    throw ArchiveError(Result::kWriteFailed,
                       std::string("cannot move to the Trash, ") + std::strerror(failure.error),
                       absolutePath);
  }
}

}  // namespace archivers
