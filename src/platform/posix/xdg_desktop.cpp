#include "platform/posix/xdg_desktop.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace parvo {
namespace {

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The value of a line such as XDG_DESKTOP_DIR="$HOME/Desktop", or nothing for other lines and
// for values that are neither absolute nor relative to $HOME.
std::optional<std::string> desktopEntry(const std::string& line, const std::string& home) {
  const std::string prefix = "XDG_DESKTOP_DIR=";
  const std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos || line.compare(start, prefix.size(), prefix) != 0) {
    return std::nullopt;
  }
  std::string value = line.substr(start + prefix.size());
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
  if (value.size() < 2 || value.front() != '"' || value.back() != '"') return std::nullopt;
  value = value.substr(1, value.size() - 2);
  if (value == "$HOME" || value.starts_with("$HOME/")) return home + value.substr(5);
  if (value.starts_with('/')) return value;
  return std::nullopt;
}

}  // namespace

std::optional<std::string> homeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
    return withoutTrailingSlashes(home);
  }
  if (const passwd* entry = getpwuid(getuid());
      entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/') {
    return withoutTrailingSlashes(entry->pw_dir);
  }
  return std::nullopt;
}

namespace {

// $VARIABLE when it holds an absolute path, else the folder below home.
std::optional<std::string> baseFolder(const char* variable, const char* belowHome) {
  if (const char* value = std::getenv(variable); value != nullptr && value[0] == '/') {
    return withoutTrailingSlashes(value);
  }
  const auto home = homeFolder();
  if (!home) return std::nullopt;
  return *home + belowHome;
}

}  // namespace

std::optional<std::string> configFolder() {
  return baseFolder("XDG_CONFIG_HOME", "/.config");
}

std::optional<std::string> cacheFolder() {
  return baseFolder("XDG_CACHE_HOME", "/.cache");
}

std::optional<std::string> desktopFolder() {
  const auto home = homeFolder();
  if (!home) return std::nullopt;
  std::optional<std::string> desktop;
  if (const auto config = configFolder()) {
    std::ifstream dirs(*config + "/user-dirs.dirs");
    for (std::string line; std::getline(dirs, line);) {
      if (auto entry = desktopEntry(line, *home)) desktop = entry;
    }
  }
  return withoutTrailingSlashes(desktop.value_or(*home + "/Desktop"));
}

}  // namespace parvo
