#include "support/simulated_windows.h"

#include <algorithm>
#include <cwctype>

#include "runtime/run_time_error.h"

namespace parvo {
namespace {

std::wstring upper(std::wstring_view text) {
  std::wstring result(text);
  for (wchar_t& character : result) character = static_cast<wchar_t>(std::towupper(character));
  return result;
}

bool sameName(std::wstring_view a, std::wstring_view b) {
  return upper(a) == upper(b);
}

// The components after "C:\".
std::vector<std::wstring> componentsOf(const std::wstring& path) {
  std::vector<std::wstring> components;
  for (std::size_t start = 3, end; start < path.size(); start = end + 1) {
    end = std::min(path.find(L'\\', start), path.size());
    if (end > start) components.push_back(path.substr(start, end - start));
  }
  return components;
}

std::wstring settingName(const SettingKey& key) {
  return upper(key.application + L"\\" + key.section + L"\\" + key.key);
}

}  // namespace

SimulatedWindows::Node& SimulatedWindows::add(const std::wstring& path) {
  const wchar_t letter = static_cast<wchar_t>(std::towupper(path.at(0)));
  Node* node =
      &drives_
           .try_emplace(letter, Node{path.substr(0, 2), path.substr(0, 2), kDirectoryAttribute, {}})
           .first->second;
  for (const std::wstring& name : componentsOf(path)) {
    auto& siblings = node->children;
    auto existing = std::find_if(siblings.begin(), siblings.end(),
                                 [&](const Node& n) { return sameName(n.longName, name); });
    if (existing == siblings.end()) {
      siblings.push_back(Node{name, name, kDirectoryAttribute, {}});
      existing = siblings.end() - 1;
    }
    node = &*existing;
  }
  return *node;
}

SimulatedWindows::Node* SimulatedWindows::walk(const std::wstring& path, bool* missingLeaf) {
  if (missingLeaf) *missingLeaf = false;
  if (path.size() < 2 || path[1] != L':') return nullptr;
  const auto drive = drives_.find(static_cast<wchar_t>(std::towupper(path[0])));
  if (drive == drives_.end()) return nullptr;
  Node* node = &drive->second;
  const auto components = componentsOf(path);
  for (std::size_t i = 0; i < components.size(); ++i) {
    if ((node->attributes & kDirectoryAttribute) == 0) return nullptr;
    auto found = std::find_if(node->children.begin(), node->children.end(), [&](const Node& n) {
      return sameName(n.longName, components[i]) || sameName(n.shortName, components[i]);
    });
    if (found == node->children.end()) {
      if (missingLeaf) *missingLeaf = i + 1 == components.size();
      return nullptr;
    }
    node = &*found;
  }
  return node;
}

std::optional<std::wstring> SimulatedWindows::findEntryName(const std::wstring& path) {
  // The directory search takes a pattern: a path ending in a backslash names no entry.
  if (path.empty() || path.back() == L'\\' || componentsOf(path).empty()) return std::nullopt;
  const Node* node = walk(path);
  if (node == nullptr) return std::nullopt;
  return node->longName;
}

std::uint32_t SimulatedWindows::fileAttributes(const std::wstring& path) {
  bool missingLeaf = false;
  const Node* node = walk(path, &missingLeaf);
  if (node == nullptr) raiseError(missingLeaf ? kFileNotFound : kPathNotFound);
  return node->attributes;
}

void SimulatedWindows::changeDirectory(const std::wstring& path) {
  const Node* node = walk(path);
  if (node == nullptr || (node->attributes & kDirectoryAttribute) == 0) raiseError(kPathNotFound);
  currentDirectory_ = path;
}

void SimulatedWindows::deleteFile(const std::wstring& path) {
  const Node* node = walk(path);
  if (node == nullptr || (node->attributes & kDirectoryAttribute) != 0) raiseError(kFileNotFound);
  std::erase_if(walk(path.substr(0, path.rfind(L'\\')))->children,
                [&](const Node& n) { return &n == node; });
}

std::wstring SimulatedWindows::createPrivateFolder() {
  const std::wstring path =
      L"C:\\Users\\user\\AppData\\Local\\Temp\\parvo-" + std::to_wstring(++privateFolders_);
  addFolder(path);
  return path;
}

void SimulatedWindows::removeFolder(const std::wstring& path) noexcept {
  const std::size_t slash = path.rfind(L'\\');
  if (Node* parent = walk(path.substr(0, slash))) {
    std::erase_if(parent->children,
                  [&](const Node& n) { return n.longName == path.substr(slash + 1); });
  }
}

void SimulatedWindows::setShortName(const std::wstring& path, std::wstring shortName) {
  walk(path)->shortName = std::move(shortName);
}

void SimulatedWindows::setSetting(const SettingKey& key, const std::wstring& value) {
  settings_[settingName(key)] = value;
}

std::optional<std::wstring> SimulatedWindows::readSetting(const SettingKey& key) {
  const auto found = settings_.find(settingName(key));
  return found == settings_.end() ? std::nullopt : std::optional(found->second);
}

void SimulatedWindows::writeSetting(const SettingKey& key, const std::wstring& value) {
  if (failSettingWrites_) raiseError(kPathFileAccessError);
  setSetting(key, value);
}

void SimulatedWindows::registerLibrary(const std::wstring& name,
                                       std::map<std::string, void*> entryPoints) {
  libraries_[upper(name)] = std::move(entryPoints);
}

std::unique_ptr<LoadedLibrary> SimulatedWindows::loadLibrary(const std::wstring& fileName) {
  const auto found = libraries_.find(upper(fileName));
  if (found == libraries_.end()) return nullptr;
  loadedLibraries_.push_back(fileName);
  struct Library : LoadedLibrary {
    std::map<std::string, void*> entries;
    void* entryPoint(const std::string& name) override {
      const auto entry = entries.find(name);
      return entry == entries.end() ? nullptr : entry->second;
    }
  };
  auto library = std::make_unique<Library>();
  library->entries = found->second;
  return library;
}

}  // namespace parvo
