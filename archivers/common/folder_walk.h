#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace archivers {

class FollowedCall;

// A file's device and inode: what tells the archive being written apart from the files packed.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  auto operator<=>(const FileIdentity&) const = default;
};

enum class WalkEntryType { kFile, kFolder };

// When a file's data and its inode last changed (st_mtim, st_ctim), in nanoseconds: a file
// rewritten in place at the same size moves one or both.
struct ChangeStamp {
  std::int64_t modified = 0;
  std::int64_t changed = 0;
  bool operator==(const ChangeStamp&) const = default;
};

FileIdentity identityOf(const struct stat& status);
ChangeStamp changeStampOf(const struct stat& status);

// One entry below the walked folder, as a packer stores it.
struct WalkEntry {
  std::string path;        // relative to the walked folder, '/' separated, as it is to be stored
  std::string sourcePath;  // where the content lies, relative, no link on the way: the same as path
                           // but for a link to a file
  WalkEntryType type = WalkEntryType::kFile;
  std::uint64_t size = 0;  // files
  std::int64_t mtime = 0;  // seconds since the epoch
  std::uint32_t mode = 0;  // permission bits
  FileIdentity identity;
  ChangeStamp stamp;  // as the walk saw it
};

// An entry the walk left out, for the packer's summary.
struct SkippedEntry {
  std::string path;
  std::string reason;  // e.g. "link to outside the folder"
};

// Why a format cannot store an entry at this path, or null when it can. The walk asks before it
// enters a folder, so a folder refused is left out with all it holds and a rule never sees a path
// below one it refused; a link is asked about as a file.
using NameRule = std::function<const char*(std::string_view path, WalkEntryType type)>;

// A file of the walk opened for reading. Reads come from the descriptor that was checked, so a
// file swapped in under the name afterwards is never read. A read that reaches the file's size
// checks that its size and change stamp are still those the walk saw: a file rewritten in place
// while it was read would otherwise go in as old bytes up to some offset and new ones after. Its
// reads, on whichever thread, are checkpoints of the walk's call.
class WalkFile {
 public:
  WalkFile(int fd, const WalkEntry& entry, FollowedCall& call)
      : fd_(fd), call_(call), path_(entry.path), size_(entry.size), stamp_(entry.stamp) {}
  WalkFile(WalkFile&& other) noexcept
      : fd_(other.fd_),
        call_(other.call_),
        path_(std::move(other.path_)),
        size_(other.size_),
        stamp_(other.stamp_),
        position_(other.position_) {
    other.fd_ = -1;
  }
  WalkFile(const WalkFile&) = delete;
  WalkFile& operator=(const WalkFile&) = delete;
  WalkFile& operator=(WalkFile&&) = delete;
  ~WalkFile();

  // Up to count bytes from the current position, 0 at the end. Throws
  // ArchiveError(kCannotOpen, "cannot read, REASON: PATH"), the reason "it changed while being
  // packed" when the read reached the end of a file that changed since the walk.
  std::size_t read(void* data, std::size_t count);
  // The same from offset, leaving the current position alone.
  std::size_t readAt(void* data, std::size_t count, std::uint64_t offset);
  // Moves the current position. Throws as read().
  void seek(std::uint64_t offset);

 private:
  // Throws unless the open file's size and change stamp are still the walk's.
  void checkUnchanged() const;

  int fd_;
  FollowedCall& call_;
  std::string path_;
  std::uint64_t size_;
  ChangeStamp stamp_;
  std::uint64_t position_ = 0;
};

// Walks the current folder for "*.*": every file (and, recursively, every folder with its
// contents), dot files included. Siblings come in byte order of their names; a folder's contents
// follow the folder's own entry.
//
// A link to a file inside the walked folder is taken as that file. Everything else that is not a
// plain file or folder is left out and listed in skipped(): links to folders (the folder is packed
// where it really lies), links leading outside or nowhere, sockets, pipes, devices, and entries
// whose name the format cannot hold (a folder with all it contains). Each real folder is entered
// at most once, so no arrangement of links or mounts can make the walk repeat itself. Entries
// whose identity is among the excluded (the archive being written, the one it replaces) are left
// out silently. A folder that cannot be read ends the walk with
// ArchiveError(kCannotOpen, "cannot read, REASON: PATH").
//
// The walk stats entries without opening them; open() opens a file only when its data is wanted,
// and names it as the call's member.
class FolderWalk {
 public:
  // Throws ArchiveError(kCannotOpen) when the current folder cannot be opened.
  FolderWalk(std::vector<FileIdentity> excluded, bool recursive, FollowedCall& call,
             NameRule unholdable = {});
  FolderWalk(const FolderWalk&) = delete;
  FolderWalk& operator=(const FolderWalk&) = delete;
  ~FolderWalk();

  // Visits every entry in order; visit may throw to end the walk.
  void walk(const std::function<void(const WalkEntry&)>& visit);

  // Opens a file entry without following a link (O_NOFOLLOW | O_NONBLOCK on every component) and
  // checks that it is still the regular file of the same identity, size and change stamp that was
  // visited. Throws ArchiveError(kCannotOpen, "cannot read, REASON: PATH").
  WalkFile open(const WalkEntry& entry);

  // Leaves an entry out that a packer finds it must not pack, to be named with the walk's own.
  void skip(std::string path, std::string reason);
  const std::vector<SkippedEntry>& skipped() const { return skipped_; }

 private:
  void walkFolder(int folderFd, const std::string& path,
                  const std::function<void(const WalkEntry&)>& visit);
  void visitEntry(int folderFd, const std::string& name, const std::string& path,
                  const std::function<void(const WalkEntry&)>& visit);
  // Where a link below the root really leads, relative to the root; empty (and the link recorded
  // as skipped) when it leads outside or nowhere.
  std::string insideTarget(const std::string& path);
  // Opens the folder at a source path component by component without following links; -1 with
  // errno set on failure.
  int openSourceFolder(const std::string& sourcePath);
  bool isExcluded(const FileIdentity& identity) const;

  int rootFd_ = -1;
  std::string rootPath_;  // the real absolute path of the walked folder
  std::vector<FileIdentity> excluded_;
  bool recursive_;
  FollowedCall& call_;
  NameRule unholdable_;
  std::set<FileIdentity> enteredFolders_;
  std::vector<SkippedEntry> skipped_;
  std::string cachedFolderPath_;  // the source folder of the last file opened
  int cachedFolderFd_ = -1;
};

// "5 items were left out of the archive: link to outside the folder: a/link; named pipe: pipe;
// link to nothing: b/c; and 2 more", or empty when nothing was left out. Each reason comes before
// its path, so a text cut short still says why.
std::string describeSkipped(const std::vector<SkippedEntry>& skipped, std::size_t named = 3);

}  // namespace archivers
