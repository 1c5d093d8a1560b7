#pragma once

#include <optional>
#include <string>

namespace parvo {

// The user's home folder: $HOME, else the password database; nothing when there is none.
std::optional<std::string> homeFolder();

// The per-user configuration folder: $XDG_CONFIG_HOME when absolute, else ~/.config.
std::optional<std::string> configFolder();
// The per-user cache folder: $XDG_CACHE_HOME when absolute, else ~/.cache.
std::optional<std::string> cacheFolder();

// The desktop folder by the XDG rules: XDG_DESKTOP_DIR in user-dirs.dirs of the configuration
// folder ("$HOME" expanded), else ~/Desktop; without a trailing separator. Nothing without a
// home folder.
std::optional<std::string> desktopFolder();

}  // namespace parvo
