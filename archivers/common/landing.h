#pragma once

#include <functional>
#include <optional>
#include <string>

namespace archivers {

class FollowedCall;

// A hidden name for an entry on its way to its own name: ".parvo-" and six random letters. Short
// and of a fixed length, so that it fits beside any name the file system takes.
std::string temporaryName();

// Makes an entry in a folder under a fresh temporary name through make(candidate), the creating
// call (>= 0 on success), trying another name while one is taken. Returns the name it made, or
// nothing with errno set by the call that failed.
std::optional<std::string> createUnderTemporaryName(const std::function<int(const char*)>& make);

// The creating call for a regular file being written, to hand to landAt: a link of the unnamed
// file fd into folderFd, or, when the file has a temporary name, a rename of it
// that never replaces; *temporaryName then follows the file to the name it took.
std::function<int(const char*)> fileLanding(int folderFd, int fd, std::string* temporaryName);

// The path as the user knows it, for the Trash's record of where an entry stood: a relative one
// from the current folder (as it stands, when that cannot be found).
std::string absolutePath(const std::string& path);

enum class Landing {
  kPlaced,       // the entry holds the name
  kFolderThere,  // a folder holds the name; nothing was made
  kFailed,       // make failed; errno says why
};

// Puts the entry that make(candidate) creates (a link of an unnamed file, a symbolic or hard link,
// a rename without replacing) at `name` in folderFd, known to the user as absolutePath, and loses
// nothing that stood there. A free name is taken at once. A taken one is compared with the new
// content readable through contentFd (-1: nothing compares equal) while the new entry still has no
// name; then the entry is made under a temporary name and swapped with what stands at the name in
// one step. What is displaced goes to the user's Trash, unless it is a regular file holding the
// same bytes, or a link with the same text, which is removed; so a file that another run landed
// meanwhile is never trashed. A folder is never displaced. Throws ArchiveError(kWriteFailed) from
// the Trash when it cannot take the displaced entry; that entry is then put back at the name.
// Long comparisons are checkpoints of call.
Landing landAt(int folderFd, const std::string& name, const std::string& absolutePath,
               int contentFd, const std::function<int(const char*)>& make, FollowedCall& call);

}  // namespace archivers
