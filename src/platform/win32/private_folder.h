#pragma once

#include <optional>
#include <string>

namespace parvo {

// A new folder under the user's temporary folder, under a name no other folder had, that only
// the user can enter (where the system lets its access list be set; otherwise just unique).
// Nothing when none can be made.
std::optional<std::wstring> createPrivateTemporaryFolder();

// Removes a folder with everything in it; links inside are removed, never followed.
void removeFolderTree(const std::wstring& path) noexcept;

}  // namespace parvo
