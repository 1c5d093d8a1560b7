#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace archivers {

// An open folder that the walk and the files being written in it share; closed when the last
// user lets go.
struct OpenFolder {
  int fd = -1;
  explicit OpenFolder(int folderFd) : fd(folderFd) {}
  OpenFolder(const OpenFolder&) = delete;
  OpenFolder& operator=(const OpenFolder&) = delete;
  ~OpenFolder();
};

// Whether a link standing at the destination's own name is refused or followed. Only a
// destination the user named on a command line is followed, as tar -C does.
enum class DestinationLink { kRefuse, kFollow };

// The walk beneath the destination: every folder an extraction writes in is reached from the
// destination by descriptors, never through a link. A walk starts from the deepest folder it
// shares with the walk before it, whose descriptors are held: it lands in the real folders that
// walk opened, wherever they now are, and never through a link put in their place meanwhile.
// It also proves links: one is made only where it can never lead outside the destination.
class DestinationWalk {
 public:
  // Remembers the destination; nothing is opened or made yet. Throws ArchiveError(kWriteFailed)
  // for an empty one.
  DestinationWalk(const std::string& destination, DestinationLink destinationLink);
  DestinationWalk(const DestinationWalk&) = delete;
  DestinationWalk& operator=(const DestinationWalk&) = delete;
  ~DestinationWalk();

  const std::string& destination() const { return destination_; }  // without trailing slashes

  // The destination's descriptor, the folder and its parents made on first use; an existing
  // folder is used as it stands. The folders above may be links (a desktop can be), the
  // destination itself only when the walk is told to follow it. Throws ArchiveError(kWriteFailed).
  int root();

  // The folder a walk reached, or why it was not reached ("passes through a link", "passes through
  // a file", "no such member").
  struct Reached {
    std::shared_ptr<OpenFolder> folder;
    const char* refusal = nullptr;
  };
  // Opens the first count components as folders without following links, making missing ones
  // when create is set. Throws ArchiveError(kWriteFailed) naming the components when a folder
  // cannot be made or opened for another reason.
  Reached open(const std::vector<std::string>& components, std::size_t count, bool create);

  // The permission bits a folder this walk made got from the kernel when asked for all of them
  // (the umask, or a default ACL, narrows them); nothing for a folder that stood there before.
  std::optional<unsigned> madeWith(const std::string& memberPath) const;

  // Records a link this extraction made at memberPath: later links may pass through it.
  void linkMade(const std::string& memberPath);
  // Forgets the link made at memberPath; false when this extraction made none there.
  bool forgetLink(const std::string& memberPath);

  // Why a link at the member path components, with this target, must not be made; null when it
  // can never lead outside, whatever the archive makes after it and whenever the extraction ends.
  const char* linkTargetProblem(const std::vector<std::string>& components,
                                std::string_view target);

  // Removes the destination when this walk made it and it holds nothing but empty folders.
  void removeIfEmpty();

 private:
  // Whether the components, from the destination, are folders all the way, none of them a link.
  bool isRealFolder(const std::vector<std::string>& components) const;
  // False when a walk down the components meets a link this extraction did not make.
  bool passesOnlyOwnLinks(const std::vector<std::string>& components) const;
  // 0 when path, from the destination, resolves beneath it; else openat2's errno (ENOSYS where the
  // kernel lacks it).
  int resolvesBeneath(const std::string& path) const;

  std::string destination_;
  DestinationLink destinationLink_;
  std::shared_ptr<OpenFolder> root_;  // null until the destination is opened
  bool destinationMade_ = false;      // by this walk: it did not exist before
  // The folders the last walk opened, outermost first, and their names.
  std::vector<std::shared_ptr<OpenFolder>> held_;
  std::vector<std::string> heldNames_;
  std::unordered_map<std::string, unsigned> madeFolders_;  // member path: bits given
  std::unordered_set<std::string> ownLinks_;               // member paths of links made
};

}  // namespace archivers
