#pragma once

#include <optional>
#include <string>

namespace parvo {

// A job's private folder "parvo-XXXXXX" and the descriptor that holds its flock for as long as
// the job runs: a folder nobody holds locked belongs to a job that was killed.
struct LockedFolder {
  std::string path;
  int fd = -1;
};

// Sweeps base, then makes a new locked folder in it with mode 0700. Nothing when none can be
// made there.
std::optional<LockedFolder> createLockedFolder(const std::string& base);

// Removes the job folders in base that no live process holds locked, and the empty creation
// leftovers ".parvo-XXXXXX" of processes killed while making one. Only folders of this user,
// never through a link.
void sweepAbandonedFolders(const std::string& base);

// Removes the folder with everything in it, never following a link, then releases its lock.
void removeLockedFolder(const LockedFolder& folder) noexcept;

}  // namespace parvo
