#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace archivers {

// A file's device and inode: what tells the archive being written apart from the files packed.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

enum class WalkEntryType { kFile, kFolder };

// One entry below the walked folder, as a packer stores it.
struct WalkEntry {
  std::string path;        // relative to the walked folder, '/' separated, as it is to be stored
  std::string sourcePath;  // where the content lies, relative, no link on the way: the same as path
                           // except below a link that the walk followed
  WalkEntryType type = WalkEntryType::kFile;
  std::uint64_t size = 0;  // files
  std::int64_t mtime = 0;  // seconds since the epoch
  std::uint32_t mode = 0;  // permission bits
  FileIdentity identity;
};

// An entry the walk left out, for the packer's summary.
struct SkippedEntry {
  std::string path;
  std::string reason;  // e.g. "link to outside the folder"
};

// A file of the walk opened for reading. Reads come from the descriptor that was checked, so a
// file swapped in under the name afterwards is never read.
class WalkFile {
 public:
  WalkFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  WalkFile(WalkFile&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
    other.fd_ = -1;
  }
  WalkFile(const WalkFile&) = delete;
  WalkFile& operator=(const WalkFile&) = delete;
  WalkFile& operator=(WalkFile&&) = delete;
  ~WalkFile();

  // Up to count bytes, 0 at the end. Throws ArchiveError(kCannotOpen, "cannot read PATH: ...").
  std::size_t read(void* data, std::size_t count);
  int descriptor() const { return fd_; }

 private:
  int fd_;
  std::string path_;
};

// Walks the current folder for "*.*": every file (and, recursively, every folder with its
// contents), dot files included. Siblings come in byte order of their names; a folder's contents
// follow the folder's own entry.
//
// A link whose target lies inside the walked folder is taken as what it points to (a linked
// folder is walked unless it is one of the folders the walk is already in); a link leading
// outside or nowhere, sockets, pipes and devices are left out and listed in skipped().
// Entries whose identity is among the excluded (the archive being written, the one it replaces)
// are left out silently. A folder that cannot be read ends the walk with
// ArchiveError(kCannotOpen, "cannot read PATH: REASON").
//
// The walk stats entries without opening them; open() opens a file only when its data is wanted.
class FolderWalk {
 public:
  // Throws ArchiveError(kCannotOpen) when the current folder cannot be opened.
  FolderWalk(std::vector<FileIdentity> excluded, bool recursive);
  FolderWalk(const FolderWalk&) = delete;
  FolderWalk& operator=(const FolderWalk&) = delete;
  ~FolderWalk();

  // Visits every entry in order; visit may throw to end the walk.
  void walk(const std::function<void(const WalkEntry&)>& visit);

  // Opens a file entry without following a link (O_NOFOLLOW | O_NONBLOCK on every component) and
  // checks that it is still the regular file of the same identity and size that was visited.
  // Throws ArchiveError(kCannotOpen, "cannot read PATH: REASON").
  WalkFile open(const WalkEntry& entry);

  const std::vector<SkippedEntry>& skipped() const { return skipped_; }

 private:
  void walkFolder(int folderFd, const std::string& path, const std::string& sourcePath,
                  const std::function<void(const WalkEntry&)>& visit);
  void visitEntry(int folderFd, const std::string& name, const std::string& path,
                  const std::string& sourcePath,
                  const std::function<void(const WalkEntry&)>& visit);
  // Where a link below the root really leads, relative to the root; empty (and the link recorded
  // as skipped) when it leads outside or nowhere.
  std::string insideTarget(const std::string& path, const std::string& sourcePath);
  // Opens the folder at a source path component by component without following links; -1 with
  // errno set on failure.
  int openSourceFolder(const std::string& sourcePath);
  bool isExcluded(const FileIdentity& identity) const;

  int rootFd_ = -1;
  std::string rootPath_;  // the real absolute path of the walked folder
  std::vector<FileIdentity> excluded_;
  bool recursive_;
  std::vector<FileIdentity> openFolders_;  // the folders the walk is in, for link loops
  std::vector<SkippedEntry> skipped_;
  std::string cachedFolderPath_;  // the source folder of the last file opened
  int cachedFolderFd_ = -1;
};

// "left out: a/link (link to outside the folder), pipe (not a file or folder) and 3 more", or
// empty when nothing was left out.
std::string describeSkipped(const std::vector<SkippedEntry>& skipped, std::size_t named = 2);

}  // namespace archivers
