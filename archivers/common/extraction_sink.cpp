#include "common/extraction_sink.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "common/archive_error.h"
#include "common/landing.h"
#include "common/posix_files.h"
#include "common/progress.h"
#include "common/trash.h"
#include "common/utf8.h"

namespace archivers {
namespace {

constexpr std::size_t kMaxNameBytes = 255;
constexpr std::size_t kWriteBufferBytes = 64 * 1024;
constexpr std::size_t kMaxHeldWalkDepth = 64;

std::string joined(const std::vector<std::string>& components) {
  std::string path;
  for (const std::string& component : components) {
    if (!path.empty()) path.push_back('/');
    path += component;
  }
  return path;
}

// Member names go into a one-line message: control characters would break it, a NUL byte is shown
// as \0. A long name is cut between characters.
std::string printable(std::string_view text) {
  std::string out;
  for (const char c : text.substr(0, utf8PrefixLength(text, 200))) {
    if (c == '\0') {
      out += "\\0";
    } else {
      out.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c);
    }
  }
  return out;
}

// "cannot write, No space left on device: NAME".
[[noreturn]] void throwWriteFailed(std::string_view what, int error, std::string_view name) {
  throw ArchiveError(Result::kWriteFailed, std::string(what) + ", " + std::strerror(error), name);
}

unsigned readProcessUmask() {
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status) != nullptr) {
      found = std::sscanf(line, "Umask: %o", &mask) == 1;
    }
    std::fclose(status);
    if (found) return mask & 0777U;
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask & 0777U;
}

// The archive's permission bits, which the umask narrows, less set-user-ID, set-group-ID and
// sticky; the owner keeps reading a file and using a folder. Without bits from the archive, a file
// is readable by all and a folder open to all.
unsigned filePermissionsFor(const std::optional<std::uint32_t>& mode) {
  return mode ? (*mode & 0777U) | 0400U : 0644U;
}
unsigned folderPermissionsFor(const std::optional<std::uint32_t>& mode) {
  return mode ? (*mode & 0777U) | 0700U : 0777U;
}

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
    const int childFd =
        ::openat(folderFd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const bool childEmpty = childFd >= 0 && removeEmptyFolders(childFd);
    if (childFd >= 0) ::close(childFd);
    if (!childEmpty || ::unlinkat(folderFd, entry->d_name, AT_REMOVEDIR) != 0) empty = false;
  }
  ::closedir(listing);
  return empty;
}

// Calls visit with each part of a '/'-separated path, empty and "." parts left out, while it
// returns true.
template <typename Visit>
void forEachPart(std::string_view path, Visit visit) {
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(start, end - start);
    start = end + 1;
    if (!part.empty() && part != "." && !visit(part)) return;
  }
}

}  // namespace

MemberPath splitMemberPath(std::string_view path) {
  MemberPath split;
  // A NUL byte ends the name where the system calls see it: "..\0x" would be checked as one name
  // and made as "..".
  if (path.find('\0') != std::string_view::npos) {
    split.refusal = "name holds a NUL byte";
    return split;
  }
  if (path.empty()) {
    split.refusal = "empty name";
    return split;
  }
  const bool drivePrefix =
      path.size() >= 2 && path[1] == ':' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  if (path.front() == '/' || drivePrefix) {
    split.refusal = "absolute or climbing name";
    return split;
  }
  forEachPart(path, [&](std::string_view component) {
    if (component == "..") {
      split.refusal = "absolute or climbing name";
    } else if (component.size() > kMaxNameBytes) {
      split.refusal = "name too long";
    } else {
      split.components.emplace_back(component);
      return true;
    }
    split.components.clear();
    return false;
  });
  return split;
}

// ---------------------------------------------------------------------------------------------
// FileOutput

OpenFolder::~OpenFolder() {
  if (owned && fd >= 0) ::close(fd);
}

FileOutput::FileOutput(int directoryFd, std::string name, std::string temporaryName, int fd,
                       const EntryInfo& entry, FollowedCall& call)
    : FileOutput(std::make_shared<OpenFolder>(directoryFd, true), std::move(name),
                 std::move(temporaryName), fd, entry, call) {}

FileOutput::FileOutput(std::shared_ptr<OpenFolder> directory, std::string name,
                       std::string temporaryName, int fd, const EntryInfo& entry,
                       FollowedCall& call)
    : call_(call),
      directory_(std::move(directory)),
      name_(std::move(name)),
      temporaryName_(std::move(temporaryName)),
      fd_(fd),
      limit_(entry.declaredSize),
      mtime_(entry.mtime),
      mode_(entry.mode) {}

FileOutput::~FileOutput() {
  if (!committed_) discard();
  closeAll();
}

void FileOutput::checkGrowth(std::uint64_t size) const {
  if (fd_ < 0) throw ArchiveError(Result::kInternal, "write to a closed file", printable(name_));
  if (limit_ && size > *limit_ - std::min(*limit_, written_)) {
    throw ArchiveError(Result::kCorrupt,
                       "larger than declared (" + std::to_string(*limit_) + " bytes)",
                       printable(name_));
  }
}

namespace {

// A file the file system cannot make that long (EFBIG, or EINVAL for an offset past its limit)
// is the member's size lying, not the disk failing: the member is damage and the next one is read.
// Under a file size limit of the user's own, EFBIG is that limit, which ends the extraction as a
// full disk does.
[[noreturn]] void throwCannotWrite(int error, std::string_view name) {
  rlimit sizeLimit{};
  const bool limited =
      ::getrlimit(RLIMIT_FSIZE, &sizeLimit) == 0 && sizeLimit.rlim_cur != RLIM_INFINITY;
  if (error == EINVAL || (error == EFBIG && !limited)) {
    throw ArchiveError(Result::kCorrupt, "larger than the file system can hold");
  }
  throwWriteFailed("cannot write", error, name);
}

}  // namespace

void FileOutput::skip(std::uint64_t count) {
  checkGrowth(count);
  call_.checkpoint();
  if (count == 0) return;
  flush();
  if (::lseek(fd_, static_cast<off_t>(count), SEEK_CUR) < 0) {
    throwCannotWrite(errno, printable(name_));
  }
  written_ += count;
  endsInHole_ = true;
}

void FileOutput::write(const void* data, std::size_t size) {
  checkGrowth(size);
  if (size > 0) endsInHole_ = false;
  const auto* bytes = static_cast<const char*>(data);
  if (buffer_.size() + size > kWriteBufferBytes) flush();
  if (size >= kWriteBufferBytes) {
    call_.checkpoint();
    if (!writeAll(fd_, bytes, size)) throwCannotWrite(errno, printable(name_));
  } else {
    buffer_.insert(buffer_.end(), bytes, bytes + size);
  }
  written_ += size;
}

void FileOutput::flush() {
  call_.checkpoint();
  if (!writeAll(fd_, buffer_.data(), buffer_.size())) {
    throwCannotWrite(errno, printable(name_));
  }
  buffer_.clear();
}

void FileOutput::commit() {
  if (fd_ < 0) throw ArchiveError(Result::kInternal, "commit of a closed file", printable(name_));
  flush();
  if (endsInHole_ && ::ftruncate(fd_, static_cast<off_t>(written_)) != 0) {
    throwCannotWrite(errno, printable(name_));
  }
  if (!permissionsSet_) {
    const unsigned mask = sink_ != nullptr ? sink_->permissionMask_ : readProcessUmask();
    const auto permissions = static_cast<mode_t>(filePermissionsFor(mode_) & ~mask);
    if (::fchmod(fd_, permissions) != 0) {
      throwWriteFailed("cannot set mode", errno, printable(name_));
    }
  }
  if (mtime_) {
    const timespec times[2] = {{0, UTIME_NOW}, {static_cast<time_t>(*mtime_), 0}};
    // A time the file system cannot hold (far past or future) leaves the file as it is.
    ::futimens(fd_, times);
  }
  const int directoryFd = directory_->fd;
  const auto make = fileLanding(directoryFd, fd_, unnamed_ ? nullptr : &temporaryName_);
  if (sink_ == nullptr) {
    const Landing landing = landAt(directoryFd, name_, name_, fd_, make, call_);
    if (landing != Landing::kPlaced) {
      throwWriteFailed("cannot create", landing == Landing::kFolderThere ? EISDIR : errno,
                       printable(name_));
    }
  } else if (!sink_->land(directoryFd, name_, memberPath_, entryPath_, fd_, make, "cannot create",
                          name_)) {
    discard();
    committed_ = true;
    return;
  }
  temporaryName_.clear();
  committed_ = true;
  closeAll();
  if (sink_ != nullptr) sink_->fileCommitted(memberPath_);
}

void FileOutput::discard() noexcept {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (directory_ != nullptr && !temporaryName_.empty()) {
    ::unlinkat(directory_->fd, temporaryName_.c_str(), 0);
  }
  temporaryName_.clear();
}

void FileOutput::closeAll() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  directory_.reset();
}

// ---------------------------------------------------------------------------------------------
// ExtractionSink

ExtractionSink::ExtractionSink(const std::string& destination, FollowedCall& call,
                               DestinationLink destinationLink)
    : destination_(destination),
      call_(call),
      destinationLink_(destinationLink),
      unnamedFilesPossible_(::access("/proc/self/fd", X_OK) == 0),
      permissionMask_(readProcessUmask()) {
  if (destination.empty()) throw ArchiveError(Result::kWriteFailed, "no destination folder given");
  // A trailing slash would make the open below follow a link at the last component.
  while (destination_.size() > 1 && destination_.back() == '/') destination_.pop_back();
  absoluteDestination_ = destination_;
  if (destination_.front() != '/') {
    char* current = ::getcwd(nullptr, 0);
    if (current != nullptr) absoluteDestination_ = std::string(current) + "/" + destination_;
    std::free(current);
  }
  if (absoluteDestination_ == "/") absoluteDestination_.clear();
}

int ExtractionSink::rootFolder() {
  if (rootFd_ >= 0) return rootFd_;
  struct stat existing {};
  destinationMade_ = ::lstat(destination_.c_str(), &existing) != 0;
  if (!createFolders(destination_, 0777)) throwWriteFailed("cannot create", errno, destination_);
  // The folders above may be links (a desktop can be), the destination itself only when told.
  const int follow = destinationLink_ == DestinationLink::kFollow ? 0 : O_NOFOLLOW;
  rootFd_ = ::open(destination_.c_str(), O_RDONLY | O_DIRECTORY | follow | O_CLOEXEC);
  if (rootFd_ < 0) {
    const int error = errno;
    struct stat status {};
    if (::lstat(destination_.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
      throw ArchiveError(Result::kWriteFailed, "destination is a symbolic link", destination_);
    }
    throwWriteFailed("cannot open", error, destination_);
  }
  root_ = std::make_shared<OpenFolder>(rootFd_, false);
  return rootFd_;
}

ExtractionSink::~ExtractionSink() {
  walk_.clear();
  root_.reset();
  // Stopped before any member was complete: the folder made for them goes too.
  const bool nothingLanded = filesWritten_ == 0 && linksCreated_ == 0;
  if (rootFd_ >= 0 && !finished_ && destinationMade_ && nothingLanded &&
      removeEmptyFolders(rootFd_)) {
    ::rmdir(destination_.c_str());
  }
  if (rootFd_ >= 0) ::close(rootFd_);
}

void ExtractionSink::record(Result result, std::string reason, std::optional<std::string> path) {
  Failures& failures = result == Result::kUnsupported ? unsupported_ : damaged_;
  if (failures.count++ > 0) return;
  failures.result = result;
  failures.reason = std::move(reason);
  failures.path = std::move(path);
}

void ExtractionSink::fail(Result result, std::string_view reason, std::string_view path) {
  record(result, std::string(reason), printable(path));
}

void ExtractionSink::fail(const ArchiveError& error) {
  record(error.result(), error.what(), std::nullopt);
}

void ExtractionSink::refuse(std::string_view path, std::string_view reason) {
  refused_.push_back(std::string(reason) + ": " + printable(path));
}

std::optional<std::vector<std::string>> ExtractionSink::componentsOf(std::string_view path) {
  MemberPath split = splitMemberPath(path);
  if (split.refusal == nullptr && split.components.empty()) split.refusal = "empty name";
  if (split.refusal != nullptr) {
    refuse(path, split.refusal);
    return std::nullopt;
  }
  return std::move(split.components);
}

void ExtractionSink::removeOwnLink(int folderFd, const std::string& name,
                                   const std::string& memberPath) {
  struct stat existing {};
  if (symlinks_.erase(memberPath) != 0 &&
      ::fstatat(folderFd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(existing.st_mode)) {
    ::unlinkat(folderFd, name.c_str(), 0);
  }
}

std::string ExtractionSink::absolutePathOf(const std::string& memberPath) const {
  return absoluteDestination_ + "/" + memberPath;
}

void ExtractionSink::trashFailed(const ArchiveError& error, const std::string& absolutePath,
                                 std::string_view entryPath) {
  // The Trash names the file by its absolute path; the member's own name is shorter.
  std::string_view reason = error.what();
  if (const std::string named = ": " + absolutePath; reason.ends_with(named)) {
    reason.remove_suffix(named.size());
  }
  fail(Result::kWriteFailed, "not extracted, " + std::string(reason), entryPath);
}

std::shared_ptr<OpenFolder> ExtractionSink::openFolders(const std::vector<std::string>& components,
                                                        std::size_t count, std::string_view path,
                                                        bool create) {
  rootFolder();
  // The folders the last walk opened serve as far as this path shares its start.
  std::size_t common = 0;
  while (common < std::min(walk_.size(), count) && walkNames_[common] == components[common]) {
    ++common;
  }
  walk_.resize(common);
  walkNames_.resize(common);
  std::shared_ptr<OpenFolder> folder = common == 0 ? root_ : walk_.back();
  for (std::size_t i = common; i < count; ++i) {
    const int fd = folder->fd;
    const char* name = components[i].c_str();
    int next = ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0 && errno == ENOENT && create) {
      if (::mkdirat(fd, name, 0777) == 0) {
        madeFolders_.insert(joined({components.begin(), components.begin() + i + 1}));
      } else if (errno != EEXIST) {
        const int error = errno;
        throwWriteFailed("cannot create folder", error, printable(joined(components)));
      }
      next = ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (next < 0) {
      const int error = errno;
      struct stat status {};
      const bool exists = ::fstatat(fd, name, &status, AT_SYMLINK_NOFOLLOW) == 0;
      if (exists && S_ISLNK(status.st_mode)) {
        refuse(path, "passes through a link");
        return nullptr;
      }
      if (exists && !S_ISDIR(status.st_mode)) {
        refuse(path, "passes through a file");
        return nullptr;
      }
      if (error == ENOENT && !create) {
        refuse(path, "no such member");
        return nullptr;
      }
      throwWriteFailed("cannot open folder", error, printable(joined(components)));
    }
    folder = std::make_shared<OpenFolder>(next, true);
    // Deeper folders are walked afresh each time rather than held open by the hundred.
    if (i < kMaxHeldWalkDepth) {
      walk_.push_back(folder);
      walkNames_.push_back(components[i]);
    }
  }
  return folder;
}

std::shared_ptr<OpenFolder> ExtractionSink::openParent(const std::vector<std::string>& components,
                                                       std::string_view path) {
  return openFolders(components, components.size() - 1, path, true);
}

std::unique_ptr<FileOutput> ExtractionSink::createFile(const EntryInfo& entry) {
  call_.setMember(entry.path);
  const auto components = componentsOf(entry.path);
  if (!components) return nullptr;
  std::shared_ptr<OpenFolder> folder = openParent(*components, entry.path);
  if (folder == nullptr) return nullptr;
  const int folderFd = folder->fd;
  const std::string& name = components->back();
  // A folder already at the name is found on commit, which refuses the entry. Read and write, so
  // the commit can compare the file with one it replaces.
  // Made with its final mode, less the umask, as the kernel applies it.
  const auto permissions = static_cast<mode_t>(filePermissionsFor(entry.mode));
  int fd = unnamedFilesPossible_
               ? ::openat(folderFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, permissions)
               : -1;
  const bool unnamed = fd >= 0;
  std::optional<std::string> temporary;
  if (!unnamed) {
    if (unnamedFilesPossible_ && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      throwWriteFailed("cannot create", errno, printable(entry.path));
    }
    temporary = createUnderTemporaryName([&](const char* candidate) {
      return fd = ::openat(folderFd, candidate, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                           permissions);
    });
    if (!temporary) throwWriteFailed("cannot create", errno, printable(entry.path));
  }
  auto output =
      std::make_unique<FileOutput>(folder, name, temporary.value_or(""), fd, entry, call_);
  output->unnamed_ = unnamed;
  output->permissionsSet_ = true;
  output->sink_ = this;
  output->memberPath_ = joined(*components);
  output->entryPath_ = entry.path;
  return output;
}

void ExtractionSink::fileCommitted(const std::string& memberPath) {
  ++filesWritten_;
  written_.insert(memberPath);
}

void ExtractionSink::createDirectory(const EntryInfo& entry) {
  const MemberPath split = splitMemberPath(entry.path);
  if (split.refusal != nullptr) {
    refuse(entry.path, split.refusal);
    return;
  }
  const std::vector<std::string>& components = split.components;
  if (components.empty()) {  // the destination itself, as in "./"
    rootFolder();
    return;
  }
  const std::shared_ptr<OpenFolder> folder =
      openFolders(components, components.size(), entry.path, true);
  if (folder == nullptr) return;
  // A folder that was there before keeps its own mode: it may be the user's.
  if (entry.mode && madeFolders_.count(joined(components)) != 0) {
    ::fchmod(folder->fd, static_cast<mode_t>(folderPermissionsFor(entry.mode) & ~permissionMask_));
  }
  if (entry.mtime) folderTimes_.push_back({components, *entry.mtime});
}

void ExtractionSink::createLink(const EntryInfo& entry) {
  if (entry.type == EntryType::kHardlink) {
    createHardlink(entry);
  } else {
    createSymlink(entry);
  }
}

void ExtractionSink::createSymlink(const EntryInfo& entry) {
  const auto components = componentsOf(entry.path);
  if (!components) return;
  const std::string& target = entry.linkTarget;
  if (target.find('\0') != std::string::npos) {
    refuse(entry.path, "link target holds a NUL byte");
    return;
  }
  const std::shared_ptr<OpenFolder> folder = openParent(*components, entry.path);
  if (folder == nullptr) return;
  if (const char* problem = linkTargetProblem(*components, target)) {
    refuse(entry.path, problem);
    return;
  }
  const int folderFd = folder->fd;
  const std::string memberPath = joined(*components);
  // A link keeps nothing of a file it replaces, so such a file always goes to the Trash.
  const auto make = [&](const char* candidate) {
    return ::symlinkat(target.c_str(), folderFd, candidate);
  };
  if (!land(folderFd, components->back(), memberPath, entry.path, -1, make, "cannot create link",
            entry.path)) {
    return;
  }
  written_.erase(memberPath);
  symlinks_.insert(memberPath);
  ++linksCreated_;
}

bool ExtractionSink::land(int folderFd, const std::string& name, const std::string& memberPath,
                          std::string_view entryPath, int contentFd,
                          const std::function<int(const char*)>& make, std::string_view failure,
                          std::string_view failureName) {
  const std::string absolutePath = absolutePathOf(memberPath);
  removeOwnLink(folderFd, name, memberPath);
  Landing landing = Landing::kFailed;
  try {
    landing = landAt(folderFd, name, absolutePath, contentFd, make, call_);
  } catch (const ArchiveError& error) {
    trashFailed(error, absolutePath, entryPath);
    return false;
  }
  if (landing == Landing::kFolderThere) {
    refuse(entryPath, "a folder of that name exists");
    return false;
  }
  if (landing == Landing::kFailed) throwWriteFailed(failure, errno, printable(failureName));
  return true;
}

// A link is made only where it can never lead outside, whatever the archive makes after it and
// whenever the extraction ends: ".." in its target may climb only out of real folders, which
// nothing in an extraction turns into links later; any other part may pass through links this
// extraction made (proved the same way), or through anything the kernel finds beneath the
// destination now. Without openat2 a link made by someone else is not passed through.
const char* ExtractionSink::linkTargetProblem(const std::vector<std::string>& components,
                                              std::string_view target) const {
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
  std::string path = joined({components.begin(), components.end() - 1});
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

bool ExtractionSink::isRealFolder(const std::vector<std::string>& components) const {
  int fd = rootFd_;
  for (const std::string& component : components) {
    const int next =
        ::openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd != rootFd_) ::close(fd);
    if (next < 0) return false;
    fd = next;
  }
  if (fd != rootFd_) ::close(fd);
  return true;
}

bool ExtractionSink::passesOnlyOwnLinks(const std::vector<std::string>& components) const {
  int fd = rootFd_;
  bool own = true;
  std::string path;
  for (const std::string& component : components) {
    path += (path.empty() ? "" : "/") + component;
    struct stat status {};
    if (::fstatat(fd, component.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) break;
    if (S_ISLNK(status.st_mode)) {
      own = symlinks_.count(path) != 0;
      break;
    }
    const int next =
        ::openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd != rootFd_) ::close(fd);
    fd = next;
    if (fd < 0) break;
  }
  if (fd >= 0 && fd != rootFd_) ::close(fd);
  return own;
}

int ExtractionSink::resolvesBeneath(const std::string& path) const {
  open_how how{};
  how.flags = O_PATH | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH;
  const long fd = ::syscall(SYS_openat2, rootFd_, path.c_str(), &how, sizeof how);
  if (fd >= 0) {
    ::close(static_cast<int>(fd));
    return 0;
  }
  return errno;
}

void ExtractionSink::createHardlink(const EntryInfo& entry) {
  const auto components = componentsOf(entry.path);
  if (!components) return;
  const MemberPath target = splitMemberPath(entry.linkTarget);
  if (target.refusal != nullptr && entry.linkTarget.find('\0') != std::string::npos) {
    refuse(entry.path, "link target holds a NUL byte");
    return;
  }
  // Only to a file this extraction wrote: never to one that stood in the destination before.
  const std::vector<std::string>* targetComponents = &target.components;
  if (target.refusal != nullptr || targetComponents->empty() ||
      written_.count(joined(*targetComponents)) == 0) {
    refuse(entry.path, "link to a member not extracted");
    return;
  }
  const std::shared_ptr<OpenFolder> targetFolder =
      openFolders(*targetComponents, targetComponents->size() - 1, entry.path, false);
  if (targetFolder == nullptr) return;
  const int targetFolderFd = targetFolder->fd;
  const std::string& targetName = targetComponents->back();
  struct stat status {};
  if (::fstatat(targetFolderFd, targetName.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(status.st_mode)) {
    refuse(entry.path, "link to a member not extracted");
    return;
  }
  const std::shared_ptr<OpenFolder> folder = openParent(*components, entry.path);
  if (folder == nullptr) return;
  const int folderFd = folder->fd;
  const std::string& name = components->back();
  const std::string memberPath = joined(*components);
  struct stat existing {};
  if (::fstatat(folderFd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
      existing.st_dev == status.st_dev && existing.st_ino == status.st_ino) {
    fileCommitted(memberPath);  // already this very file
    return;
  }
  const int targetFd =
      ::openat(targetFolderFd, targetName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  bool landed = false;
  try {
    const auto make = [&](const char* candidate) {
      return ::linkat(targetFolderFd, targetName.c_str(), folderFd, candidate, 0);
    };
    landed = land(folderFd, name, memberPath, entry.path, targetFd, make, "cannot create link",
                  entry.path);
  } catch (...) {
    if (targetFd >= 0) ::close(targetFd);
    throw;
  }
  if (targetFd >= 0) ::close(targetFd);
  if (landed) fileCommitted(memberPath);
}

std::string ExtractionSink::finish() {
  call_.checkpoint();
  std::stable_sort(folderTimes_.begin(), folderTimes_.end(),
                   [](const PendingTime& a, const PendingTime& b) {
                     return a.components.size() > b.components.size();
                   });
  for (const PendingTime& pending : folderTimes_) {
    const std::string path = joined(pending.components);
    const std::shared_ptr<OpenFolder> folder =
        openFolders(pending.components, pending.components.size(), path, false);
    if (folder == nullptr) continue;
    const timespec times[2] = {{0, UTIME_NOW}, {static_cast<time_t>(pending.mtime), 0}};
    ::futimens(folder->fd, times);
  }
  folderTimes_.clear();
  finished_ = true;
  // An archive read to its end without trouble gets its folder, even when it holds nothing.
  if (damaged_.count == 0 && unsupported_.count == 0) rootFolder();
  // Damage is the most important news, then what could not be read, then what was refused.
  for (const Failures* failures : {&damaged_, &unsupported_}) {
    if (failures->count == 0) continue;
    std::string reason = failures->reason;
    if (failures->count > 1) reason += " (and " + std::to_string(failures->count - 1) + " more)";
    if (failures->path) throw ArchiveError(failures->result, reason, *failures->path);
    throw ArchiveError(failures->result, reason);
  }
  if (!refused_.empty()) {
    throw ArchiveError(Result::kEntriesRefused,
                       "skipped " + std::to_string(refused_.size()) + " unsafe entr" +
                           (refused_.size() == 1 ? "y" : "ies") + ", first: " + refused_.front());
  }
  std::string summary = std::to_string(filesWritten_) + (filesWritten_ == 1 ? " file" : " files");
  if (linksCreated_ > 0) {
    summary += ", " + std::to_string(linksCreated_) + (linksCreated_ == 1 ? " link" : " links");
  }
  return summary + " extracted";
}

}  // namespace archivers
