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

// A folder already at the name is found on landing, which refuses the entry.
FileOutput::FileOutput(std::shared_ptr<OpenFolder> folder, std::string name, const EntryInfo& entry,
                       Writer writer, Handover handover, Pass pass, FollowedCall& call)
    : call_(call),
      writer_(writer),
      name_(std::move(name)),
      folder_(std::move(folder)),
      permissions_(filePermissionsFor(entry.mode)),
      path_(printable(entry.path)),
      pass_(std::move(pass)),
      limit_(entry.declaredSize),
      mtime_(entry.mtime),
      handover_(std::move(handover)) {
  if (writer != Writer::kReadingThread || (limit_ && *limit_ > kHeldBytes)) {
    becomeFile();
  } else if (limit_) {
    held_.reserve(*limit_);
  }
}

void FileOutput::becomeFile() {
  file_ = std::make_shared<PendingFile>(folder_, permissions_, kWriteBufferBytes, "cannot create",
                                        path_);
  const std::string held = std::move(held_);
  held_.clear();
  held_.shrink_to_fit();
  if (writer_ == Writer::kReadingThread) {
    pieceError_ = std::make_shared<std::atomic<int>>(0);
    piece_.reserve(kPieceBytes);
    piece_ = held;
    return;
  }
  if (const int error = file_->append(held.data(), held.size())) {
    throwCannotWrite(error, printable(name_));
  }
}

void FileOutput::throwIfPieceFailed() const {
  if (const int error = pieceError_->load(std::memory_order_relaxed)) {
    throwCannotWrite(error, printable(name_));
  }
}

void FileOutput::passPiece() {
  checkpoint();
  throwIfPieceFailed();
  if (piece_.empty()) return;
  std::string piece;
  piece.reserve(kPieceBytes);
  piece.swap(piece_);
  const std::size_t bytes = piece.size();
  pass_(bytes, [file = file_, failed = pieceError_, piece = std::move(piece)] {
    if (failed->load(std::memory_order_relaxed) == 0) {
      failed->store(file->append(piece.data(), piece.size()), std::memory_order_relaxed);
    }
  });
}

void FileOutput::checkGrowth(std::uint64_t size) const {
  if (!open_) {
    throw ArchiveError(Result::kInternal, "write to a closed file", printable(name_));
  }
  if (limit_ && size > *limit_ - std::min(*limit_, written_)) {
    throw ArchiveError(Result::kCorrupt,
                       "larger than declared (" + std::to_string(*limit_) + " bytes)",
                       printable(name_));
  }
}

void FileOutput::skip(std::uint64_t count) {
  checkGrowth(count);
  checkpoint();
  // A hole stays a hole: the member becomes a file.
  if (!file_ && count > 0) becomeFile();
  if (!file_) return;
  written_ += count;
  if (pieceError_) {
    passPiece();
    pass_(0, [file = file_, failed = pieceError_, count] {
      if (failed->load(std::memory_order_relaxed) == 0) {
        failed->store(file->skip(count), std::memory_order_relaxed);
      }
    });
    return;
  }
  if (const int error = file_->skip(count)) throwCannotWrite(error, printable(name_));
}

void FileOutput::write(const void* data, std::size_t size) {
  checkGrowth(size);
  if (!file_) {
    checkpoint();
    if (held_.size() + size <= kHeldBytes) {
      held_.append(static_cast<const char*>(data), size);
      written_ += size;
      return;
    }
    becomeFile();
  }
  written_ += size;
  if (pieceError_) {
    piece_.append(static_cast<const char*>(data), size);
    if (piece_.size() >= kPieceBytes) passPiece();
    return;
  }
  if (file_->writesOut(size)) {
    checkpoint();
  }
  if (const int error = file_->append(data, size)) throwCannotWrite(error, printable(name_));
}

void FileOutput::commit() {
  if (!open_) {
    throw ArchiveError(Result::kInternal, "commit of a closed file", printable(name_));
  }
  checkpoint();
  if (pieceError_) passPiece();
  open_ = false;
  std::shared_ptr<PendingFile> file = std::move(file_);
  if (file && !pieceError_) {
    if (const int error = file->complete()) throwCannotWrite(error, printable(name_));
    if (mtime_) file->setTime(*mtime_);
  }
  const std::size_t bytes = held_.size();
  // Everything the landing thread needs is moved into its work: this output may be gone by then.
  handover_(bytes, [file = std::move(file), held = std::move(held_), folder = std::move(folder_),
                    permissions = permissions_, path = path_, name = name_, mtime = mtime_,
                    pieceError = pieceError_]() mutable {
    if (file && !pieceError) return file;  // complete already
    int error = 0;
    if (file) {
      // Its pieces were written before this, in order.
      error = pieceError->load(std::memory_order_relaxed);
    } else {
      file = std::make_shared<PendingFile>(folder, permissions, kWriteBufferBytes, "cannot create",
                                           path);
      error = file->append(held.data(), held.size());
    }
    if (error == 0) error = file->complete();
    if (error != 0) throwCannotWrite(error, printable(name));
    if (mtime) file->setTime(*mtime);
    return file;
  });
}

// ---------------------------------------------------------------------------------------------
// ExtractionSink

ExtractionSink::ExtractionSink(const std::string& destination, FollowedCall& call,
                               DestinationLink destinationLink)
    : call_(call),
      walk_(destination, destinationLink),
      absoluteDestination_(absolutePath(walk_.destination())),
      pool_(landingThreads(), call) {
  if (absoluteDestination_ == "/") absoluteDestination_.clear();
}

ExtractionSink::~ExtractionSink() {
  // What was handed over lands (it is complete) before the threads end.
  pool_.stop();
  // Stopped before any member was complete: the folder made for them goes too.
  if (!finished_ && filesWritten_ == 0 && linksCreated_ == 0) walk_.removeIfEmpty();
}

void ExtractionSink::record(std::uint64_t sequence, Result result, std::string reason,
                            std::optional<std::string> path) {
  const std::lock_guard lock(recordMutex_);
  Failures& failures = result == Result::kUnsupported ? unsupported_ : damaged_;
  // The first in archive order, whichever thread recorded it first.
  if (failures.count++ > 0 && failures.sequence < sequence) return;
  failures.sequence = sequence;
  failures.result = result;
  failures.reason = std::move(reason);
  failures.path = std::move(path);
}

void ExtractionSink::fail(Result result, std::string_view reason, std::string_view path) {
  record(nextSequence(), result, std::string(reason), printable(path));
}

void ExtractionSink::failForPassword(std::string_view reason, std::string_view path) {
  ++passwordFailures_;
  fail(Result::kUnsupported, reason, path);
}

void ExtractionSink::fail(const ArchiveError& error) {
  record(nextSequence(), error.result(), error.what(), std::nullopt);
}

void ExtractionSink::refuse(std::string_view path, std::string_view reason) {
  refuseAt(nextSequence(), path, reason);
}

void ExtractionSink::refuseAt(std::uint64_t sequence, std::string_view path,
                              std::string_view reason) {
  const std::lock_guard lock(recordMutex_);
  refused_.emplace_back(sequence, std::string(reason) + ": " + printable(path));
}

std::optional<std::vector<std::string>> ExtractionSink::componentsOf(std::string_view path) {
  MemberPath split = splitEntryPath(path);
  if (split.refusal != nullptr) {
    refuse(path, split.refusal);
    return std::nullopt;
  }
  return std::move(split.components);
}

void ExtractionSink::removeOwnLink(int folderFd, const std::string& name, bool ownLink) {
  struct stat existing {};
  if (ownLink && ::fstatat(folderFd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(existing.st_mode)) {
    ::unlinkat(folderFd, name.c_str(), 0);
  }
}

std::string ExtractionSink::absolutePathOf(const std::string& memberPath) const {
  return absoluteDestination_ + "/" + memberPath;
}

void ExtractionSink::trashFailed(std::uint64_t sequence, const ArchiveError& error,
                                 const std::string& absolutePath, std::string_view entryPath) {
  // The Trash names the file by its absolute path; the member's own name is shorter.
  std::string_view reason = error.what();
  if (const std::string named = ": " + absolutePath; reason.ends_with(named)) {
    reason.remove_suffix(named.size());
  }
  record(sequence, Result::kWriteFailed, "not extracted, " + std::string(reason),
         printable(entryPath));
}

std::shared_ptr<OpenFolder> ExtractionSink::openFolders(const std::vector<std::string>& components,
                                                        std::size_t count, std::string_view path,
                                                        bool create) {
  if (create) landBeforeWalk(components, count);
  DestinationWalk::Reached reached = walk_.open(components, count, create);
  if (reached.refusal != nullptr) refuse(path, reached.refusal);
  return std::move(reached.folder);
}

std::shared_ptr<OpenFolder> ExtractionSink::openParent(const std::vector<std::string>& components,
                                                       std::string_view path) {
  return openFolders(components, components.size() - 1, path, true);
}

void ExtractionSink::landBeforeWalk(const std::vector<std::string>& components, std::size_t count) {
  {
    const std::lock_guard lock(recordMutex_);
    if (onTheirWay_.empty()) return;
    bool met = false;
    std::string path;
    for (std::size_t i = 0; i < count && !met; ++i) {
      if (i > 0) path += '/';
      path += components[i];
      met = onTheirWay_.count(path) > 0;
    }
    if (!met) return;
  }
  pool_.drain();
}

std::optional<ExtractionSink::FilePlace> ExtractionSink::placeFile(const EntryInfo& entry) {
  call_.setMember(entry.path);
  makeHeldFolders();
  auto components = componentsOf(entry.path);
  if (!components) return std::nullopt;
  std::shared_ptr<OpenFolder> folder = openParent(*components, entry.path);
  if (folder == nullptr) return std::nullopt;
  const std::uint64_t sequence = nextSequence();
  // Runs on the reading thread at commit; the landing itself on a landing thread.
  auto handover = [this, sequence, folder, name = components->back(),
                   memberPath = joinedPath(*components),
                   entryPath = entry.path](std::size_t bytes, FileOutput::Make make) {
    const bool ownLink = walk_.forgetLink(memberPath);
    {
      const std::lock_guard lock(recordMutex_);
      onTheirWay_.insert(memberPath);
    }
    try {
      pool_.hand(name, bytes, [=, this, make = std::move(make)] {
        landFile(sequence, folder, name, memberPath, ownLink, entryPath, make);
      });
    } catch (...) {
      // Not handed over (the user's stop, an earlier landing's failure), or landed here and failed.
      const std::lock_guard lock(recordMutex_);
      if (const auto found = onTheirWay_.find(memberPath); found != onTheirWay_.end()) {
        onTheirWay_.erase(found);
      }
      throw;
    }
  };
  auto pass = [this, name = components->back()](std::size_t bytes, std::function<void()> work) {
    pool_.hand(name, bytes, std::move(work));
  };
  return FilePlace{std::move(folder), std::move(components->back()), std::move(handover),
                   std::move(pass)};
}

std::unique_ptr<FileOutput> ExtractionSink::createFile(const EntryInfo& entry) {
  std::optional<FilePlace> place = placeFile(entry);
  if (!place) return nullptr;
  const FileOutput::Writer writer = pool_.threads() > 0 ? FileOutput::Writer::kReadingThread
                                                        : FileOutput::Writer::kReadingThreadNow;
  return std::make_unique<FileOutput>(std::move(place->folder), std::move(place->name), entry,
                                      writer, std::move(place->handover), std::move(place->pass),
                                      call_);
}

void ExtractionSink::extractLater(const EntryInfo& entry, std::vector<std::uint8_t> stored,
                                  DecodeStored decode) {
  if (pool_.threads() == 0) {
    const std::unique_ptr<FileOutput> output = createFile(entry);
    if (!output) return;
    decode(stored, *output);
    output->commit();
    return;
  }
  std::optional<FilePlace> place = placeFile(entry);
  if (!place) return;
  // What it holds, or will write, whichever is more.
  const std::size_t bytes = std::max<std::size_t>(
      stored.size(), static_cast<std::size_t>(entry.declaredSize.value_or(0)));
  // On the landing thread: the file is made and written there, and handed straight on to land.
  place->handover(bytes, [this, folder = std::move(place->folder), name = std::move(place->name),
                          entry, stored = std::move(stored), decode = std::move(decode)] {
    std::shared_ptr<PendingFile> file;
    FileOutput output(
        folder, name, entry, FileOutput::Writer::kLandingThread,
        [&file](std::size_t, const FileOutput::Make& make) { file = make(); }, nullptr, call_);
    decode(stored, output);
    output.commit();
    return file;
  });
}

void ExtractionSink::landFile(std::uint64_t sequence, const std::shared_ptr<OpenFolder>& folder,
                              const std::string& name, const std::string& memberPath, bool ownLink,
                              const std::string& entryPath, const FileOutput::Make& make) {
  const auto landed = [&] {
    const std::lock_guard lock(recordMutex_);
    onTheirWay_.erase(onTheirWay_.find(memberPath));
  };
  try {
    const std::shared_ptr<PendingFile> file = make();
    const auto place = [&](const std::string& absolutePath) {
      return file->land(name, absolutePath, call_);
    };
    if (land(sequence, folder->fd, name, memberPath, ownLink, entryPath, place, "cannot create",
             name)) {
      fileCommitted(memberPath);
    } else {
      file->discard();
    }
  } catch (const ArchiveError& error) {
    landed();
    if (endsExtraction(error)) throw;
    record(sequence, error.result(), error.what(), printable(entryPath));
    return;
  } catch (...) {
    landed();
    throw;
  }
  landed();
}

void ExtractionSink::fileCommitted(const std::string& memberPath) {
  const std::lock_guard lock(recordMutex_);
  ++filesWritten_;
  written_.insert(memberPath);
}

void ExtractionSink::createDirectory(const EntryInfo& entry) {
  const MemberPath split = splitMemberPath(entry.path);
  if (split.refusal != nullptr) {
    refuse(entry.path, split.refusal);
    return;
  }
  heldFolders_.emplace_back(entry, split.components);
}

void ExtractionSink::makeHeldFolders() {
  for (const auto& [entry, components] : heldFolders_) makeFolder(entry, components);
  heldFolders_.clear();
}

void ExtractionSink::makeFolder(const EntryInfo& entry,
                                const std::vector<std::string>& components) {
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
  makeHeldFolders();
  // Links after the files before them: a hard link's file, and what a link replaces, are there.
  pool_.drain();
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
  if (!land(nextSequence(), folderFd, name, memberPath, walk_.forgetLink(memberPath), entry.path,
            place, "cannot create link", entry.path)) {
    return;
  }
  written_.erase(memberPath);
  walk_.linkMade(memberPath);
  ++linksCreated_;
}

bool ExtractionSink::land(std::uint64_t sequence, int folderFd, const std::string& name,
                          const std::string& memberPath, bool ownLink, std::string_view entryPath,
                          const std::function<Landing(const std::string& absolutePath)>& place,
                          std::string_view failure, std::string_view failureName) {
  const std::string absolutePath = absolutePathOf(memberPath);
  removeOwnLink(folderFd, name, ownLink);
  Landing landing = Landing::kFailed;
  try {
    landing = place(absolutePath);
  } catch (const ArchiveError& error) {
    if (error.result() == Result::kCancelled) throw;
    trashFailed(sequence, error, absolutePath, entryPath);
    return false;
  }
  if (landing == Landing::kFolderThere) {
    refuseAt(sequence, entryPath, "a folder of that name exists");
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
    landed = land(nextSequence(), folderFd, name, memberPath, walk_.forgetLink(memberPath),
                  entry.path, place, "cannot create link", entry.path);
  } catch (...) {
    if (targetFd >= 0) ::close(targetFd);
    throw;
  }
  if (targetFd >= 0) ::close(targetFd);
  if (landed) fileCommitted(memberPath);
}

std::string ExtractionSink::finish() {
  call_.checkpoint();
  pool_.drain();
  if (passwordFailures_ == 0 || filesWritten_ > 0 || linksCreated_ > 0) makeHeldFolders();
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
    const auto first =
        std::min_element(refused_.begin(), refused_.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    throw ArchiveError(Result::kEntriesRefused,
                       "skipped " + std::to_string(refused_.size()) + " unsafe entr" +
                           (refused_.size() == 1 ? "y" : "ies") + ", first: " + first->second);
  }
  const std::size_t files = filesWritten_;
  std::string summary = std::to_string(files) + (files == 1 ? " file" : " files");
  if (linksCreated_ > 0) {
    summary += ", " + std::to_string(linksCreated_) + (linksCreated_ == 1 ? " link" : " links");
  }
  return summary + " extracted";
}

}  // namespace archivers
