#pragma once

#include <archive.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/archive_error.h"
#include "common/archive_input.h"
#include "common/progress.h"
#include "libarchive/libarchive_extraction.h"

namespace archivers {

class GzipSource;

// What libarchive is given when an encrypted ZIP member asks for a password: the call's passwords
// that this reader has not been given yet (libarchive keeps those it was given and tries them all
// on every member itself), then one more asked of the user, until the call's tries are used up.
class PasswordFeed {
 public:
  explicit PasswordFeed(FollowedCall& call) : call_(call) {}
  PasswordFeed(const PasswordFeed&) = delete;
  PasswordFeed& operator=(const PasswordFeed&) = delete;

  // Before an encrypted member's data is read.
  void startMember() {
    ranOut_ = false;
    last_.reset();
  }
  // The call's passwords, by index, that proved wrong for the member and are not to be offered.
  std::set<std::size_t> excluded;
  // libarchive asked for another password for the member at hand and there was none.
  bool ranOut() const { return ranOut_; }
  // The index of the last password handed over for the member at hand.
  std::optional<std::size_t> last() const { return last_; }
  // What asking threw (the user's cancel), which cannot pass through libarchive.
  const std::optional<ArchiveError>& failure() const { return failure_; }

  static const char* next(archive* reader, void* feed);

 private:
  FollowedCall& call_;
  std::size_t handed_ = 0;
  bool ranOut_ = false;
  std::optional<std::size_t> last_;
  std::optional<ArchiveError> failure_;
};

// An open libarchive reader set up for one kind of archive: ZIP through the central directory
// (falling back to the local headers when there is none); TAR in every variant behind any
// compression filter, detected by content. Names are left as libarchive finds them.
class ArchiveReader {
 public:
  // Reads every byte through input, which must outlive the reader, as call does. Throws
  // ArchiveError(kCannotOpen) when libarchive cannot open it.
  // A ZIP's encrypted members are given the call's passwords.
  ArchiveReader(ArchiveInput& input, ArchiveKind kind, FollowedCall& call);
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;
  ~ArchiveReader();

  archive* handle() const { return archive_; }
  // After the last member: reads what follows to the end where that verifies a checksum (the
  // trailer of a gzip stream). Throws ArchiveError(kCorrupt).
  void verifyToEnd();
  ArchiveKind kind() const { return kind_; }
  PasswordFeed& passwords() { return passwords_; }

  // libarchive's last error as one line, never empty.
  std::string errorMessage() const;
  // The error's result code: kCancelled once the user stopped the call, the input's own when
  // reading it failed (damage the gzip stream's checksum found, a read error), kUnsupported for
  // encryption and unknown methods, else kCorrupt.
  Result errorResult() const;
  // What reading the input threw, which libarchive only sees as a failed read.
  const std::optional<ArchiveError>& inputFailure() const { return cursor_.failure; }

 private:
  struct Cursor {
    ArchiveInput& input;
    std::uint64_t position = 0;
    std::vector<unsigned char> block;
    GzipSource* gzip = nullptr;  // set when the input is a gzip stream read through it
    std::optional<ArchiveError> failure;
  };
  static la_ssize_t read(archive* reader, void* cursor, const void** block);
  static la_ssize_t readGzip(archive* reader, void* cursor, const void** block);
  static la_int64_t seek(archive* reader, void* cursor, la_int64_t offset, int whence);
  static la_int64_t skip(archive* reader, void* cursor, la_int64_t request);

  const FollowedCall& call_;
  PasswordFeed passwords_;  // outlives archive_, which asks it
  Cursor cursor_;           // outlives archive_, which reads through it
  archive* archive_;
  ArchiveKind kind_;
  std::unique_ptr<GzipSource> gzip_;
};

}  // namespace archivers
