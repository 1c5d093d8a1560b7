#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "common/archive_error.h"
#include "common/destination_walk.h"
#include "common/landing.h"
#include "common/landing_pool.h"
#include "common/member_path.h"
#include "common/pending_file.h"
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

// A member's regular file, written as a pending file in the folder it goes into: it appears under
// its own name only once committed and landed, complete; destroyed without commit, it leaves
// nothing behind. A small member is held in memory and made, written and landed by a landing
// thread; a large one is made by the reading thread and passed in pieces to a landing thread,
// which writes them and then lands the file. Made by ExtractionSink::createFile; it must not
// outlive the sink.
class FileOutput : public ByteSink {
 public:
  // Makes the complete file (on the landing thread), then puts it at its name; a file that is not
  // made (refused, or recorded as a failure) is dropped.
  using Make = std::function<std::shared_ptr<PendingFile>()>;
  using Handover = std::function<void(std::size_t bytes, Make make)>;
  // Runs work, which holds bytes, on the landing thread that the file's landing goes to, after
  // the work passed before it.
  using Pass = std::function<void(std::size_t bytes, std::function<void()> work)>;
  enum class Writer {
    // A small member is held in memory and made by a landing thread, a large one's pieces are
    // written there.
    kReadingThread,
    kReadingThreadNow,  // made at once and written by the reading thread (no landing threads)
    // Made at once, by a landing thread that decodes a member handed over whole. It is finished
    // when the user stops, as a file handed over complete is landed.
    kLandingThread,
  };
  // For entry in folder, with the entry's mode. Throws ArchiveError(kWriteFailed) when the file
  // cannot be made now.
  FileOutput(std::shared_ptr<OpenFolder> folder, std::string name, const EntryInfo& entry,
             Writer writer, Handover handover, Pass pass, FollowedCall& call);
  FileOutput(const FileOutput&) = delete;
  FileOutput& operator=(const FileOutput&) = delete;

  // The most bytes a member is held in memory; a larger one becomes a file at once. Larger
  // buffers cost more in fresh pages, and their unmapping on another thread, than they save.
  static constexpr std::size_t kHeldBytes = 64 * 1024;
  // The bytes of a large member passed to its landing thread at a time.
  static constexpr std::size_t kPieceBytes = 1024 * 1024;

  // Throws ArchiveError: kCorrupt when the data would grow past the declared size (the guard
  // against decompression bombs), kWriteFailed on an I/O error such as a full disk.
  void write(const void* data, std::size_t size);
  void write(const std::uint8_t* data, std::size_t size) override {
    write(static_cast<const void*>(data), size);
  }
  // Continues the file with count zero bytes left as a hole (sparse members); the same limits
  // apply as to write().
  void skip(std::uint64_t count);
  // Hands the complete file over to be dated and put in place. A file already there whose
  // content differs goes to the Trash first; when it cannot, the member is not written and the
  // sink records the failure. Throws kWriteFailed, here or at a later member's commit.
  void commit();
  std::uint64_t written() const { return written_; }

 private:
  void checkGrowth(std::uint64_t size) const;
  // Where the reading thread hears the user.
  void checkpoint() {
    if (writer_ != Writer::kLandingThread) call_.checkpoint();
  }
  // Makes the file now and moves what is held into it.
  void becomeFile();
  // Passes the piece gathered so far to the landing thread; throws what an earlier piece met.
  void passPiece();
  void throwIfPieceFailed() const;

  FollowedCall& call_;  // its writes are the call's checkpoints
  Writer writer_;
  std::string name_;  // the last component of the member path, for messages
  std::shared_ptr<OpenFolder> folder_;
  unsigned permissions_;
  std::string path_;                   // printable, for messages
  std::string held_;                   // the bytes while the member is held in memory
  std::shared_ptr<PendingFile> file_;  // null while held in memory
  std::uint64_t written_ = 0;          // bytes and holes, wherever they are
  Pass pass_;                          // how pieces reach the landing thread
  std::string piece_;                  // gathered for the next pass
  // Set once a large member goes in pieces: the errno of the first piece that failed to write.
  std::shared_ptr<std::atomic<int>> pieceError_;
  bool open_ = true;
  std::optional<std::uint64_t> limit_;
  std::optional<std::int64_t> mtime_;
  Handover handover_;
};

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
// The destination folder, parents included, is created with the first member made (file or link),
// or by a finish() without failures, so a reader that gives up before its first member leaves no
// folder, and so does one stopped (the user's cancel, a full disk) before any file or link was
// complete. Folders named only by folder entries are made before the next file or link, or by
// finish(), which makes none when no file or link was made and members failed for want of their
// password: an archive that gives nothing leaves nothing. A link standing at the destination's own
// name is refused, never followed, unless the sink is told that the user named it
// (DestinationLink::kFollow).
//
// Every folder is reached by the walk beneath the destination (DestinationWalk), which follows no
// link; members themselves cannot replace a folder: a file, link or hard link at a folder's name
// is refused.
class ExtractionSink {
 public:
  // Remembers the destination; an existing folder is used as it stands. Throws
  // ArchiveError(kWriteFailed) for an empty one.
  // The call hears of each member and is where long work stops when the user asks.
  ExtractionSink(const std::string& destination, FollowedCall& call,
                 DestinationLink destinationLink = DestinationLink::kRefuse);
  ExtractionSink(const ExtractionSink&) = delete;
  ExtractionSink& operator=(const ExtractionSink&) = delete;
  ~ExtractionSink();

  // Null when the entry is refused (the refusal is recorded).
  std::unique_ptr<FileOutput> createFile(const EntryInfo& entry);

  // Decodes a member's stored data into its file: writes the bytes, and throws ArchiveError for
  // damage, as the reader's own decoding does.
  using DecodeStored =
      std::function<void(std::span<const std::uint8_t> stored, FileOutput& output)>;
  // Whether a member is better read whole and handed to extractLater: there are landing threads
  // to decode it beside the reading thread, and it is small enough to hold and quick enough to
  // finish when the user stops (half of what may be in flight, so that two decode at once).
  bool decodesLater(std::uint64_t storedSize, std::uint64_t decodedSize) const {
    return pool_.threads() > 0 &&
           std::max(storedSize, decodedSize) <= LandingPool::kBytesInFlight / 2;
  }
  // Extracts a member whose stored data the reader has read whole: a landing thread decodes it
  // into its file and lands it while the reading thread reads on. Its damage is recorded against
  // it as guardMember records a member's damage. Without landing threads, decodes at once.
  void extractLater(const EntryInfo& entry, std::vector<std::uint8_t> stored, DecodeStored decode);
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
  // Records a member that could not be read for want of its password (none could be asked, or
  // those given were wrong), as fail() does with kUnsupported.
  void failForPassword(std::string_view reason, std::string_view path);

  // Waits for the files handed to the landing threads; throws what ended their landing.
  void drain() { pool_.drain(); }
  // Lands what is handed over, applies folder times. Returns a one-line summary, or throws as the
  // policy above says.
  std::string finish();

  std::size_t filesWritten() const { return filesWritten_; }
  // The call the extraction runs in, for readers that must ask it (whether the user stopped).
  FollowedCall& call() const { return call_; }

 private:
  struct PendingTime {
    std::vector<std::string> components;
    std::int64_t mtime;
  };
  // Where a file member goes, and how it is handed over on commit; nothing when it is refused.
  struct FilePlace {
    std::shared_ptr<OpenFolder> folder;
    std::string name;
    FileOutput::Handover handover;
    FileOutput::Pass pass;
  };
  std::optional<FilePlace> placeFile(const EntryInfo& entry);
  // Opens (creating as needed) the folder a member goes into. Null when the name is refused.
  std::shared_ptr<OpenFolder> openParent(const std::vector<std::string>& components,
                                         std::string_view path);
  // The walk to the first count components; null (and the refusal recorded) when it is refused.
  std::shared_ptr<OpenFolder> openFolders(const std::vector<std::string>& components,
                                          std::size_t count, std::string_view path, bool create);
  // Before folders are made on the walk to count components: lands what is handed over when one
  // of them is a file still on its way, so that the walk meets it as it would have.
  void landBeforeWalk(const std::vector<std::string>& components, std::size_t count);
  // Null when the member's path is unsafe or empty (the refusal is recorded).
  std::optional<std::vector<std::string>> componentsOf(std::string_view path);
  // Puts what place(absolutePath) lands at name (see landAt); false when the member must not be
  // made (a folder stands there, or the Trash cannot take what does: recorded). Throws
  // kWriteFailed, "FAILURE, REASON: FAILURENAME", when the landing fails.
  bool land(std::uint64_t sequence, int folderFd, const std::string& name,
            const std::string& memberPath, bool ownLink, std::string_view entryPath,
            const std::function<Landing(const std::string& absolutePath)>& place,
            std::string_view failure, std::string_view failureName);
  void trashFailed(std::uint64_t sequence, const ArchiveError& error,
                   const std::string& absolutePath, std::string_view entryPath);
  std::string absolutePathOf(const std::string& memberPath) const;
  // A link this extraction made is no file of the user's: a later member of its name replaces it
  // without the Trash. ownLink: the walk made one there (DestinationWalk::forgetLink).
  void removeOwnLink(int folderFd, const std::string& name, bool ownLink);
  // Runs a file's landing, recording what ends that member alone against its sequence.
  void landFile(std::uint64_t sequence, const std::shared_ptr<OpenFolder>& folder,
                const std::string& name, const std::string& memberPath, bool ownLink,
                const std::string& entryPath, const FileOutput::Make& make);
  // Makes the folders that folder entries named, held until now.
  void makeHeldFolders();
  void makeFolder(const EntryInfo& entry, const std::vector<std::string>& components);
  void createSymlink(const EntryInfo& entry);
  void createHardlink(const EntryInfo& entry);
  void fileCommitted(const std::string& memberPath);

  FollowedCall& call_;
  DestinationWalk walk_;
  std::string absoluteDestination_;  // for the Trash's record of where a file was
  bool finished_ = false;
  std::atomic<std::size_t> filesWritten_{0};  // counted by the landing threads
  std::size_t linksCreated_ = 0;
  // Every member and failure the reading thread meets takes the next number, so that the
  // landing threads record in archive order whenever they finish.
  std::uint64_t sequence_ = 0;
  std::uint64_t nextSequence() { return ++sequence_; }
  void refuseAt(std::uint64_t sequence, std::string_view path, std::string_view reason);
  std::mutex recordMutex_;  // what the landing threads record
  std::vector<std::pair<std::uint64_t, std::string>> refused_;
  struct Failures {
    std::size_t count = 0;
    std::uint64_t sequence = 0;       // of the first
    Result result = Result::kOk;      // of the first
    std::string reason;               // of the first, the whole message when it names no member
    std::optional<std::string> path;  // of the first
  };
  void record(std::uint64_t sequence, Result result, std::string reason,
              std::optional<std::string> path);
  Failures damaged_;
  Failures unsupported_;
  std::vector<PendingTime> folderTimes_;
  std::vector<std::pair<EntryInfo, std::vector<std::string>>> heldFolders_;
  std::size_t passwordFailures_ = 0;
  std::unordered_set<std::string> written_;  // member paths of committed files and hard links
  std::unordered_multiset<std::string> onTheirWay_;  // member paths of files handed over
  // Last, so that its threads end before what they use.
  LandingPool pool_;
};

}  // namespace archivers
