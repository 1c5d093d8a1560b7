#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/entry_point.h"
#include "common/folder_walk.h"
#include "common/pending_file.h"
#include "common/progress.h"

namespace archivers {

// An archive being written. It is a pending file in the destination's folder (unnamed, or a
// hidden ".parvo-XXXXXX" where that is not available) and appears under its final name only on
// commit(), complete and synced. Destroyed without commit, it leaves nothing
// (at worst the hidden temporary, when the process is killed without O_TMPFILE), and an archive
// already under the name stays as it was.
class ArchiveOutput {
 public:
  // destination is relative to the current folder or absolute; it becomes the call's archive, and
  // the commit is the call's checkpoint. Throws ArchiveError(kWriteFailed) naming it when its
  // folder cannot be written.
  ArchiveOutput(const std::string& destination, FollowedCall& call);
  ArchiveOutput(const ArchiveOutput&) = delete;
  ArchiveOutput& operator=(const ArchiveOutput&) = delete;
  ~ArchiveOutput();

  // The files a packer must not pack into the archive: the file being written and the one under
  // the destination name, if any.
  std::vector<FileIdentity> ownFiles() const;

  // Appends at the end. Throws ArchiveError(kWriteFailed), e.g. for a full disk.
  void write(const void* data, std::size_t size);
  // Overwrites bytes already written (header fields known only later).
  void writeAt(std::uint64_t offset, const void* data, std::size_t size);
  std::uint64_t size() const { return file_->size(); }

  // The packer's one-line report: "12 files and 3 folders packed into NAME", or kLeftOut with
  // what was left out first, then the count. Folders are counted only where the format stores
  // them.
  Outcome summary(std::size_t files, std::optional<std::size_t> folders,
                  const std::vector<SkippedEntry>& skipped) const;

  // Lets whoever may read the file also run it (0644 becomes 0755), before commit() shows it.
  // Throws ArchiveError(kWriteFailed).
  void makeExecutable();

  // Flushes, syncs and puts the archive under its name. A different file already there goes to
  // the user's Trash first. Throws ArchiveError(kWriteFailed), also when the Trash can't take it.
  void commit();

 private:
  [[noreturn]] void fail(const char* what, int error) const;

  std::string destination_;
  FollowedCall& call_;
  std::string absoluteDestination_;  // where the Trash says the replaced archive came from
  std::string name_;                 // the last component of destination_
  std::shared_ptr<OpenFolder> folder_;
  std::optional<PendingFile> file_;
};

}  // namespace archivers
