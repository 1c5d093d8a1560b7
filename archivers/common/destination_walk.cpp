#include "common/destination_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/archive_error.h"
#include "common/member_path.h"
#include "common/posix_files.h"

namespace archivers {
namespace {

// Deeper folders are walked afresh each time rather than held open by the hundred.
constexpr std::size_t kMaxHeldWalkDepth = 64;

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Removes the folders under folderFd that hold nothing but empty folders, following no link.
// True when folderFd is left empty.
bool removeEmptyFolders(int folderFd) {
  const int listFd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listFd < 0) return false;
  DIR* listing = ::fdopendir(listFd);
  if (listing == nullptr) {
    ::close(listFd);
    return false;
  }
  bool empty = true;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    const int childFd = ::openat(folderFd, entry->d_name, kFolderFlags);
    const bool childEmpty = childFd >= 0 && removeEmptyFolders(childFd);
    if (childFd >= 0) ::close(childFd);
    if (!childEmpty || ::unlinkat(folderFd, entry->d_name, AT_REMOVEDIR) != 0) empty = false;
  }
  ::closedir(listing);
  return empty;
}

}  // namespace

OpenFolder::~OpenFolder() {
  if (fd >= 0) ::close(fd);
}

DestinationWalk::DestinationWalk(const std::string& destination, DestinationLink destinationLink)
    : destination_(destination), destinationLink_(destinationLink) {
  if (destination.empty()) throw ArchiveError(Result::kWriteFailed, "no destination folder given");
  // A trailing slash would make the open below follow a link at the last component.
  while (destination_.size() > 1 && destination_.back() == '/') destination_.pop_back();
}

DestinationWalk::~DestinationWalk() = default;

int DestinationWalk::root() {
  if (root_ != nullptr) return root_->fd;
  struct stat existing {};
  destinationMade_ = ::lstat(destination_.c_str(), &existing) != 0;
  if (!createFolders(destination_, 0777)) throwWriteFailed("cannot create", errno, destination_);
  const int follow = destinationLink_ == DestinationLink::kFollow ? 0 : O_NOFOLLOW;
  const int fd = ::open(destination_.c_str(), O_RDONLY | O_DIRECTORY | follow | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    struct stat status {};
    if (::lstat(destination_.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
      throw ArchiveError(Result::kWriteFailed, "destination is a symbolic link", destination_);
    }
    throwWriteFailed("cannot open", error, destination_);
  }
  root_ = std::make_shared<OpenFolder>(fd);
  return fd;
}

DestinationWalk::Reached DestinationWalk::open(const std::vector<std::string>& components,
                                               std::size_t count, bool create) {
  root();
  // The folders the last walk opened serve as far as this path shares its start.
  std::size_t common = 0;
  while (common < std::min(held_.size(), count) && heldNames_[common] == components[common]) {
    ++common;
  }
  held_.resize(common);
  heldNames_.resize(common);
  std::shared_ptr<OpenFolder> folder = common == 0 ? root_ : held_.back();
  for (std::size_t i = common; i < count; ++i) {
    const int fd = folder->fd;
    const char* name = components[i].c_str();
    int next = ::openat(fd, name, kFolderFlags);
    bool made = false;
    if (next < 0 && errno == ENOENT && create) {
      made = ::mkdirat(fd, name, 0777) == 0;
      if (!made && errno != EEXIST) {
        const int error = errno;
        throwWriteFailed("cannot create folder", error, printable(joinedPath(components)));
      }
      next = ::openat(fd, name, kFolderFlags);
    }
    if (next < 0) {
      const int error = errno;
      struct stat status {};
      const bool exists = ::fstatat(fd, name, &status, AT_SYMLINK_NOFOLLOW) == 0;
      if (exists && S_ISLNK(status.st_mode)) return {nullptr, "passes through a link"};
      if (exists && !S_ISDIR(status.st_mode)) return {nullptr, "passes through a file"};
      if (error == ENOENT && !create) return {nullptr, "no such member"};
      throwWriteFailed("cannot open folder", error, printable(joinedPath(components)));
    }
    folder = std::make_shared<OpenFolder>(next);
    struct stat status {};
    if (made && ::fstat(next, &status) == 0) {
      madeFolders_[joinedPath({components.begin(), components.begin() + i + 1})] =
          status.st_mode & 0777U;
    }
    if (i < kMaxHeldWalkDepth) {
      held_.push_back(folder);
      heldNames_.push_back(components[i]);
    }
  }
  return {folder};
}

std::optional<unsigned> DestinationWalk::madeWith(const std::string& memberPath) const {
  const auto found = madeFolders_.find(memberPath);
  if (found == madeFolders_.end()) return std::nullopt;
  return found->second;
}

void DestinationWalk::linkMade(const std::string& memberPath) {
  ownLinks_.insert(memberPath);
}

bool DestinationWalk::forgetLink(const std::string& memberPath) {
  return ownLinks_.erase(memberPath) != 0;
}

// ".." in a target may climb only out of real folders, which nothing in an extraction turns into
// links later; any other part may pass through links this extraction made (proved the same way),
// or through anything the kernel finds beneath the destination now. Without openat2 a link made
// by someone else is not passed through.
const char* DestinationWalk::linkTargetProblem(const std::vector<std::string>& components,
                                               std::string_view target) {
  root();
  if (target.empty() || target.front() == '/') return "link points outside";
  std::vector<std::string> resolved(components.begin(), components.end() - 1);
  std::size_t realPrefix = resolved.size();  // the link's own folders were walked without links
  const char* problem = nullptr;
  forEachPart(target, [&](std::string_view component) {
    if (component != "..") {
      resolved.emplace_back(component);
    } else if (resolved.empty()) {
      problem = "link points outside";
    } else if (resolved.size() > realPrefix && !isRealFolder(resolved)) {
      problem = "link climbs out of a link or a missing folder";
    } else {
      resolved.pop_back();
      realPrefix = resolved.size();
    }
    return problem == nullptr;
  });
  if (problem != nullptr) return problem;
  std::string path = joinedPath({components.begin(), components.end() - 1});
  path += (path.empty() ? "" : "/") + std::string(target);
  // Dangling (ENOENT, ENOTDIR) and looping (ELOOP) links lead nowhere now; the proof above keeps
  // them from leading outside later. Any other failure (ENOSYS, EPERM from a filter) leaves it
  // to the walk through the links.
  switch (resolvesBeneath(path)) {
    case 0:
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
      return nullptr;
    case EXDEV:
      return "link points outside";
    default:
      return passesOnlyOwnLinks(resolved) ? nullptr : "link passes through a link";
  }
}

bool DestinationWalk::isRealFolder(const std::vector<std::string>& components) const {
  const int rootFd = root_->fd;
  int fd = rootFd;
  for (const std::string& component : components) {
    const int next = ::openat(fd, component.c_str(), kFolderFlags);
    if (fd != rootFd) ::close(fd);
    if (next < 0) return false;
    fd = next;
  }
  if (fd != rootFd) ::close(fd);
  return true;
}

bool DestinationWalk::passesOnlyOwnLinks(const std::vector<std::string>& components) const {
  const int rootFd = root_->fd;
  int fd = rootFd;
  bool own = true;
  std::string path;
  for (const std::string& component : components) {
    path += (path.empty() ? "" : "/") + component;
    struct stat status {};
    if (::fstatat(fd, component.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) break;
    if (S_ISLNK(status.st_mode)) {
      own = ownLinks_.count(path) != 0;
      break;
    }
    const int next = ::openat(fd, component.c_str(), kFolderFlags);
    if (fd != rootFd) ::close(fd);
    fd = next;
    if (fd < 0) break;
  }
  if (fd >= 0 && fd != rootFd) ::close(fd);
  return own;
}

int DestinationWalk::resolvesBeneath(const std::string& path) const {
  open_how how{};
  how.flags = O_PATH | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH;
  const long fd = ::syscall(SYS_openat2, root_->fd, path.c_str(), &how, sizeof how);
  if (fd >= 0) {
    ::close(static_cast<int>(fd));
    return 0;
  }
  return errno;
}

void DestinationWalk::removeIfEmpty() {
  held_.clear();
  if (root_ != nullptr && destinationMade_ && removeEmptyFolders(root_->fd)) {
    ::rmdir(destination_.c_str());
  }
}

}  // namespace archivers
