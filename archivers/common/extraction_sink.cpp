#include "common/extraction_sink.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/archive_error.h"
#include "common/landing.h"
#include "common/progress.h"

namespace archivers {
namespace {

constexpr std::size_t kWriteBufferBytes = 64 * 1024;

// The archive's permission bits, which the umask narrows, less set-user-ID, set-group-ID and
// sticky; the owner keeps reading a file and using a folder. Without bits from the archive, a file
// is readable by all and a folder open to all.
unsigned filePermissionsFor(const std::optional<std::uint32_t>& mode) {
  return mode ? (*mode & 0777U) | 0400U : 0644U;
}
unsigned folderPermissionsFor(const std::optional<std::uint32_t>& mode) {
  return mode ? (*mode & 0777U) | 0700U : 0777U;
}

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

// ---------------------------------------------------------------------------------------------
// FileOutput

// A folder already at the name is found on commit, which refuses the entry.
FileOutput::FileOutput(std::shared_ptr<OpenFolder> folder, std::string name, const EntryInfo& entry,
                       Lander land, FollowedCall& call)
    : call_(call),
      name_(std::move(name)),
      file_(std::move(folder), filePermissionsFor(entry.mode), kWriteBufferBytes, "cannot create",
            printable(entry.path)),
      limit_(entry.declaredSize),
      mtime_(entry.mtime),
      land_(std::move(land)) {}

void FileOutput::checkGrowth(std::uint64_t size) const {
  if (!file_.isOpen()) {
    throw ArchiveError(Result::kInternal, "write to a closed file", printable(name_));
  }
  const std::uint64_t written = file_.size();
  if (limit_ && size > *limit_ - std::min(*limit_, written)) {
    throw ArchiveError(Result::kCorrupt,
                       "larger than declared (" + std::to_string(*limit_) + " bytes)",
                       printable(name_));
  }
}

void FileOutput::skip(std::uint64_t count) {
  checkGrowth(count);
  call_.checkpoint();
  if (const int error = file_.skip(count)) throwCannotWrite(error, printable(name_));
}

void FileOutput::write(const void* data, std::size_t size) {
  checkGrowth(size);
  if (file_.writesOut(size)) {
    call_.checkpoint();
  }
  if (const int error = file_.append(data, size)) throwCannotWrite(error, printable(name_));
}

void FileOutput::commit() {
  if (!file_.isOpen()) {
    throw ArchiveError(Result::kInternal, "commit of a closed file", printable(name_));
  }
  call_.checkpoint();
  if (const int error = file_.complete()) throwCannotWrite(error, printable(name_));
  if (mtime_) file_.setTime(*mtime_);
  if (!land_(file_)) file_.discard();
}

// ---------------------------------------------------------------------------------------------
// ExtractionSink

ExtractionSink::ExtractionSink(const std::string& destination, FollowedCall& call,
                               DestinationLink destinationLink)
    : call_(call),
      walk_(destination, destinationLink),
      absoluteDestination_(absolutePath(walk_.destination())) {
  if (absoluteDestination_ == "/") absoluteDestination_.clear();
}

ExtractionSink::~ExtractionSink() {
  // Stopped before any member was complete: the folder made for them goes too.
  if (!finished_ && filesWritten_ == 0 && linksCreated_ == 0) walk_.removeIfEmpty();
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
  MemberPath split = splitEntryPath(path);
  if (split.refusal != nullptr) {
    refuse(path, split.refusal);
    return std::nullopt;
  }
  return std::move(split.components);
}

void ExtractionSink::removeOwnLink(int folderFd, const std::string& name,
                                   const std::string& memberPath) {
  struct stat existing {};
  if (walk_.forgetLink(memberPath) &&
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
  DestinationWalk::Reached reached = walk_.open(components, count, create);
  if (reached.refusal != nullptr) refuse(path, reached.refusal);
  return std::move(reached.folder);
}

std::shared_ptr<OpenFolder> ExtractionSink::openParent(const std::vector<std::string>& components,
                                                       std::string_view path) {
  return openFolders(components, components.size() - 1, path, true);
}

std::unique_ptr<FileOutput> ExtractionSink::createFile(const EntryInfo& entry) {
  call_.setMember(entry.path);
  auto components = componentsOf(entry.path);
  if (!components) return nullptr;
  std::shared_ptr<OpenFolder> folder = openParent(*components, entry.path);
  if (folder == nullptr) return nullptr;
  const int folderFd = folder->fd;
  const auto lander = [this, folderFd, name = components->back(),
                       memberPath = joinedPath(*components),
                       entryPath = entry.path](PendingFile& file) {
    const auto place = [&](const std::string& absolutePath) {
      return file.land(name, absolutePath, call_);
    };
    if (!this->land(folderFd, name, memberPath, entryPath, place, "cannot create", name)) {
      return false;
    }
    fileCommitted(memberPath);
    return true;
  };
  std::string name = std::move(components->back());
  return std::make_unique<FileOutput>(std::move(folder), std::move(name), entry, lander, call_);
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
    walk_.root();
    return;
  }
  const std::shared_ptr<OpenFolder> folder =
      openFolders(components, components.size(), entry.path, true);
  if (folder == nullptr) return;
  // A folder that was there before keeps its own mode: it may be the user's. One this extraction
  // made is narrowed as the kernel narrowed it when it was made.
  if (const std::optional<unsigned> made = walk_.madeWith(joinedPath(components));
      entry.mode && made) {
    ::fchmod(folder->fd, static_cast<mode_t>(folderPermissionsFor(entry.mode) & *made));
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
  if (const char* refusal = linkTargetRefusal(target)) {
    refuse(entry.path, refusal);
    return;
  }
  const std::shared_ptr<OpenFolder> folder = openParent(*components, entry.path);
  if (folder == nullptr) return;
  if (const char* problem = walk_.linkTargetProblem(*components, target)) {
    refuse(entry.path, problem);
    return;
  }
  const int folderFd = folder->fd;
  const std::string& name = components->back();
  const std::string memberPath = joinedPath(*components);
  // A link keeps nothing of a file it replaces, so such a file always goes to the Trash.
  const auto place = [&](const std::string& absolutePath) {
    return landAt(
        folderFd, name, absolutePath, -1,
        [&](const char* candidate) { return ::symlinkat(target.c_str(), folderFd, candidate); },
        call_);
  };
  if (!land(folderFd, name, memberPath, entry.path, place, "cannot create link", entry.path)) {
    return;
  }
  written_.erase(memberPath);
  walk_.linkMade(memberPath);
  ++linksCreated_;
}

bool ExtractionSink::land(int folderFd, const std::string& name, const std::string& memberPath,
                          std::string_view entryPath,
                          const std::function<Landing(const std::string& absolutePath)>& place,
                          std::string_view failure, std::string_view failureName) {
  const std::string absolutePath = absolutePathOf(memberPath);
  removeOwnLink(folderFd, name, memberPath);
  Landing landing = Landing::kFailed;
  try {
    landing = place(absolutePath);
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

void ExtractionSink::createHardlink(const EntryInfo& entry) {
  const auto components = componentsOf(entry.path);
  if (!components) return;
  if (const char* refusal = linkTargetRefusal(entry.linkTarget)) {
    refuse(entry.path, refusal);
    return;
  }
  // Only to a file this extraction wrote: never to one that stood in the destination before.
  const MemberPath target = splitEntryPath(entry.linkTarget);
  const std::vector<std::string>& targetComponents = target.components;
  if (target.refusal != nullptr || written_.count(joinedPath(targetComponents)) == 0) {
    refuse(entry.path, "link to a member not extracted");
    return;
  }
  const std::shared_ptr<OpenFolder> targetFolder =
      openFolders(targetComponents, targetComponents.size() - 1, entry.path, false);
  if (targetFolder == nullptr) return;
  const int targetFolderFd = targetFolder->fd;
  const std::string& targetName = targetComponents.back();
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
  const std::string memberPath = joinedPath(*components);
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
    const auto place = [&](const std::string& absolutePath) {
      return landAt(
          folderFd, name, absolutePath, targetFd,
          [&](const char* candidate) {
            return ::linkat(targetFolderFd, targetName.c_str(), folderFd, candidate, 0);
          },
          call_);
    };
    landed = land(folderFd, name, memberPath, entry.path, place, "cannot create link", entry.path);
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
    const std::string path = joinedPath(pending.components);
    const std::shared_ptr<OpenFolder> folder =
        openFolders(pending.components, pending.components.size(), path, false);
    if (folder == nullptr) continue;
    const timespec times[2] = {{0, UTIME_NOW}, {static_cast<time_t>(pending.mtime), 0}};
    ::futimens(folder->fd, times);
  }
  folderTimes_.clear();
  finished_ = true;
  // An archive read to its end without trouble gets its folder, even when it holds nothing.
  if (damaged_.count == 0 && unsupported_.count == 0) walk_.root();
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
