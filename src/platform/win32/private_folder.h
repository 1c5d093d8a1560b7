#pragma once

#include <memory>
#include <optional>
#include <string>

namespace parvo {

struct FolderHoldCloser {
  void operator()(void* handle) const noexcept;
};
// The lock that marks a private folder as in use for as long as it is open.
using FolderHold = std::unique_ptr<void, FolderHoldCloser>;

struct PrivateTemporaryFolder {
  std::wstring path;
  FolderHold hold;
};

// A new folder under the user's temporary folder, under a name no other folder had, that only
// the user can enter (where the system lets its access list be set; otherwise just unique),
// held until its hold is closed. First removes the folders that earlier runs made and no running
// job holds any more (a job that was killed leaves its folder behind). Nothing when none can be
// made.
std::optional<PrivateTemporaryFolder> createPrivateTemporaryFolder();

// Removes a folder with everything in it; links inside are removed, never followed.
void removeFolderTree(const std::wstring& path) noexcept;

}  // namespace parvo
