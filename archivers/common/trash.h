#pragma once

#include <string>

namespace archivers {

// Moves the entry `name` in folderFd, known to the user as absolutePath (whose last component may
// differ from name: an entry displaced to a temporary name keeps its own name in the Trash), to the
// user's Trash the way desktop file managers expect: an info file (original path, deletion time)
// beside the entry in the trash, so the file can be restored from there. Files on the home folder's
// file system go to $XDG_DATA_HOME/Trash (default ~/.local/share/Trash), others to the Trash at the
// top of their own file system ($topdir/.Trash/$UID when an administrator made it, else
// $topdir/.Trash-$UID). Throws ArchiveError(kWriteFailed) naming the path when no Trash can take
// the entry; the entry is then left where it was.
void moveToTrash(int folderFd, const std::string& name, const std::string& absolutePath);

}  // namespace archivers
