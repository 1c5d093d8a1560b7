#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "common/archive_error.h"
#include "common/progress.h"
#include "common/stream.h"

namespace archivers {

enum class EntryType { kFile, kDirectory, kSymlink, kHardlink };

// One archive member as a format reader hands it to the sink.
struct EntryInfo {
  std::string path;  // decoded to UTF-8 where the encoding is known, '/' separated
  EntryType type = EntryType::kFile;
  std::optional<std::uint64_t> declaredSize;  // uncompressed size the archive states
  std::optional<std::int64_t> mtime;          // seconds since the epoch, UTC
  std::optional<std::uint32_t> mode;          // Unix permission bits, where the archive has them
  std::string linkTarget;                     // kSymlink: the link text; kHardlink: member path
};

class ExtractionSink;

// An open folder that outputs and the sink share; closed when the last user lets go, unless it is
// borrowed (the destination, which the sink itself closes).
struct OpenFolder {
  int fd = -1;
  bool owned = true;
  OpenFolder(int folderFd, bool ownsFd) : fd(folderFd), owned(ownsFd) {}
  OpenFolder(const OpenFolder&) = delete;
  OpenFolder& operator=(const OpenFolder&) = delete;
  ~OpenFolder();
};

// A regular file being written where nobody sees it: an unnamed file in its final folder where the
// file system allows, else a hidden temporary name there. It appears under its own name only on
// commit(), complete; destroyed without commit, it leaves nothing behind. It owns both
// descriptors. One made by ExtractionSink::createFile shares its folder with the sink and must not
// outlive it. Its writes are checkpoints of call.
class FileOutput : public ByteSink {
 public:
  FileOutput(int directoryFd, std::string name, std::string temporaryName, int fd,
             const EntryInfo& entry, FollowedCall& call);
  FileOutput(std::shared_ptr<OpenFolder> directory, std::string name, std::string temporaryName,
             int fd, const EntryInfo& entry, FollowedCall& call);
  FileOutput(const FileOutput&) = delete;
  FileOutput& operator=(const FileOutput&) = delete;
  ~FileOutput() override;

  // Throws ArchiveError: kCorrupt when the data would grow past the declared size (the guard
  // against decompression bombs), kWriteFailed on an I/O error such as a full disk.
  void write(const void* data, std::size_t size);
  void write(const std::uint8_t* data, std::size_t size) override {
    write(static_cast<const void*>(data), size);
  }
  // Continues the file with count zero bytes left as a hole (sparse members); the same limits
  // apply as to write().
  void skip(std::uint64_t count);
  // Sets mode and modification time and puts the file in place. A file already there whose
  // content differs goes to the Trash first; when it cannot, the member is not written and the
  // sink records the failure. Throws kWriteFailed.
  void commit();
  std::uint64_t written() const { return written_; }

 private:
  friend class ExtractionSink;
  void discard() noexcept;
  void checkGrowth(std::uint64_t size) const;
  void closeAll() noexcept;
  void flush();

  FollowedCall& call_;
  ExtractionSink* sink_ = nullptr;  // told of the commit, when the sink made this output
  std::string memberPath_;          // normalised member path, for hard links to this file
  std::string entryPath_;           // the path as the archive gives it, for messages
  bool committed_ = false;
  bool endsInHole_ = false;
  std::vector<char> buffer_;  // small writes are gathered into larger ones
  std::shared_ptr<OpenFolder> directory_;
  std::string name_;
  std::string temporaryName_;    // empty for an unnamed file
  bool unnamed_ = false;         // made with O_TMPFILE: linked into place through /proc
  bool permissionsSet_ = false;  // made with its final mode
  int fd_;
  std::optional<std::uint64_t> limit_;
  std::optional<std::int64_t> mtime_;
  std::optional<std::uint32_t> mode_;
  std::uint64_t written_ = 0;
};

// Whether a link standing at the destination's own name is refused or followed. Only a
// destination the user named on a command line is followed, as tar -C does.
enum class DestinationLink { kRefuse, kFollow };

// Extracts members under one destination folder and nowhere else. Names that are absolute, hold
// "..", or would pass through a link are refused and reported; the rest is extracted. A member
// replaces what stands at its name, except a folder; a replaced regular file whose content differs
// goes to the user's Trash, so extraction never loses a file.
//
// How every format reader reports trouble:
// - Damage (corrupt data, a CRC mismatch, an unreadable header): fail() with kCorrupt, and go on
//   with the next member where the format allows it.
// - A member the reader cannot extract (its method, encryption, a missing volume): fail() with
//   kUnsupported.
// - Unsafe names and links (absolute or climbing names, names through a link, links pointing
//   outside, absolute link targets included): handed to the sink as they are; the sink refuses
//   them. Readers do not filter them themselves.
// The sink records a member it cannot write without losing the file it replaces (no usable
// Trash) as kWriteFailed, ranked with damage; other write failures (a full disk) are thrown.
// finish() throws the first damage (or such write failure), "REASON (and N more): NAME" when there
// are more; else the first unsupported member, worded alike; else kEntriesRefused, "skipped N
// unsafe entries, first: REASON: NAME". Only with none of these does it return the summary.
//
// The destination folder, parents included, is created with the first member made (file, folder
// or link), or by a finish() without failures, so a reader that gives up before its first member
// leaves no folder, and so does one stopped (the user's cancel, a full disk) before any file or
// link was complete. A link standing at the destination's own name is refused, never followed,
// unless the sink is told that the user named it (DestinationLink::kFollow).
//
// Every folder is reached by a walk from the destination that follows no link. A member's walk
// starts from the deepest folder it shares with the walk before it, whose descriptors the sink
// keeps: it lands in the real folders that walk opened, wherever they now are, and never through
// a link put in their place in the meantime (members themselves cannot replace a folder: a file,
// link or hard link at a folder's name is refused).
class ExtractionSink {
 public:
  // Remembers the destination; an existing folder is used as it stands. The call hears of each
  // member made and is checked for a stop as they are written. Throws ArchiveError(kWriteFailed)
  // for an empty destination.
  ExtractionSink(const std::string& destination, FollowedCall& call,
                 DestinationLink destinationLink = DestinationLink::kRefuse);
  ExtractionSink(const ExtractionSink&) = delete;
  ExtractionSink& operator=(const ExtractionSink&) = delete;
  ~ExtractionSink();

  // Null when the entry is refused (the refusal is recorded).
  std::unique_ptr<FileOutput> createFile(const EntryInfo& entry);
  void createDirectory(const EntryInfo& entry);
  // Symlinks whose target stays inside the destination, hard links to members already written.
  void createLink(const EntryInfo& entry);
  // Records a member the reader itself skips as unsafe to make, e.g. a device or a pipe.
  void refuse(std::string_view path, std::string_view reason);
  // Records a member the reader could not extract, "REASON: PATH": kUnsupported for a method,
  // encryption or a missing volume; any other result counts as damage.
  void fail(Result result, std::string_view reason, std::string_view path);
  // The same for a failure that names no member, such as an unreadable header.
  void fail(const ArchiveError& error);

  // Applies folder times. Returns a one-line summary, or throws as the policy above says.
  std::string finish();

  std::size_t filesWritten() const { return filesWritten_; }
  // The call the extraction runs in, for readers that must ask it (whether the user stopped).
  FollowedCall& call() const { return call_; }
  std::size_t refusedCount() const { return refused_.size(); }

 private:
  friend class FileOutput;
  struct PendingTime {
    std::vector<std::string> components;
    std::int64_t mtime;
  };
  // Opens (creating as needed) the folder a member goes into, never following a link. Null when
  // the name is refused.
  std::shared_ptr<OpenFolder> openParent(const std::vector<std::string>& components,
                                         std::string_view path);
  // Opens the first count components as folders without following links; creates missing ones
  // when create is set. Null (and the refusal recorded) when one is a link or a file.
  std::shared_ptr<OpenFolder> openFolders(const std::vector<std::string>& components,
                                          std::size_t count, std::string_view path, bool create);
  // Null when the member's path is unsafe or empty (the refusal is recorded).
  std::optional<std::vector<std::string>> componentsOf(std::string_view path);
  // The destination's descriptor, creating the folder on first use. Throws kWriteFailed.
  int rootFolder();
  // Puts what make(candidate) creates at name (see landAt); false when the member must not be made
  // (a folder stands there, or the Trash cannot take what does: recorded). Throws kWriteFailed,
  // "FAILURE, REASON: FAILURENAME", when make fails.
  bool land(int folderFd, const std::string& name, const std::string& memberPath,
            std::string_view entryPath, int contentFd, const std::function<int(const char*)>& make,
            std::string_view failure, std::string_view failureName);
  void trashFailed(const ArchiveError& error, const std::string& absolutePath,
                   std::string_view entryPath);
  std::string absolutePathOf(const std::string& memberPath) const;
  // A link this extraction made is no file of the user's: a later member of its name replaces it
  // without the Trash.
  void removeOwnLink(int folderFd, const std::string& name, const std::string& memberPath);
  void createSymlink(const EntryInfo& entry);
  void createHardlink(const EntryInfo& entry);
  // Why a link at the member path components, with this target, must not be made; null when it
  // can never lead outside.
  const char* linkTargetProblem(const std::vector<std::string>& components,
                                std::string_view target) const;
  // Whether the components, from the destination, are folders all the way, none of them a link.
  bool isRealFolder(const std::vector<std::string>& components) const;
  // False when a walk down the components meets a link this extraction did not make.
  bool passesOnlyOwnLinks(const std::vector<std::string>& components) const;
  // 0 when path, from the destination, resolves beneath it; else openat2's errno (ENOSYS where the
  // kernel lacks it).
  int resolvesBeneath(const std::string& path) const;
  void fileCommitted(const std::string& memberPath);

  std::string destination_;  // without trailing slashes
  FollowedCall& call_;
  DestinationLink destinationLink_;
  std::string absoluteDestination_;    // for the Trash's record of where a file was
  bool unnamedFilesPossible_ = false;  // /proc is there to link O_TMPFILE files into place
  int rootFd_ = -1;                    // -1 until the destination is made
  std::shared_ptr<OpenFolder> root_;   // rootFd_, borrowed
  // The folders the last walk opened, outermost first, and their names.
  std::vector<std::shared_ptr<OpenFolder>> walk_;
  std::vector<std::string> walkNames_;
  unsigned permissionMask_ = 0;  // the process umask
  bool finished_ = false;
  bool destinationMade_ = false;  // by this sink: it did not exist before
  std::size_t filesWritten_ = 0;
  std::size_t linksCreated_ = 0;
  std::vector<std::string> refused_;
  struct Failures {
    std::size_t count = 0;
    Result result = Result::kOk;      // of the first
    std::string reason;               // of the first, the whole message when it names no member
    std::optional<std::string> path;  // of the first
  };
  void record(Result result, std::string reason, std::optional<std::string> path);
  Failures damaged_;
  Failures unsupported_;
  std::vector<PendingTime> folderTimes_;
  std::unordered_set<std::string> written_;      // member paths of committed files and hard links
  std::unordered_set<std::string> symlinks_;     // member paths of created symlinks
  std::unordered_set<std::string> madeFolders_;  // member paths of folders this sink made
};

// A member path split into the folders and name it is made at (empty and "." parts dropped), or
// why it must not be made: absolute, with a drive prefix, climbing with "..", holding a NUL byte,
// a part longer than a name can be, or empty. Every name and link target a reader hands the sink
// passes here.
struct MemberPath {
  std::vector<std::string> components;
  const char* refusal = nullptr;  // the reason, as the refusal message words it
};
MemberPath splitMemberPath(std::string_view path);

}  // namespace archivers
