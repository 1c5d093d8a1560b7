#include "support/simulated_windows.h"

#include <algorithm>
#include <cwctype>

#include "platform/posix/utf8_text.h"
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

std::vector<std::wstring> componentsOf(const std::wstring& path) {
  std::vector<std::wstring> components;
  std::size_t start = 3;  // after "C:\"
  while (start < path.size()) {
    std::size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    if (end > start) components.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return components;
}

bool isPlainShortName(const std::wstring& name) {
  const std::size_t dot = name.find(L'.');
  const std::wstring base = name.substr(0, dot);
  const std::wstring extension = dot == std::wstring::npos ? L"" : name.substr(dot + 1);
  const bool plainCharacters = std::all_of(name.begin(), name.end(), [](wchar_t c) {
    return c < 0x80 && c != L' ' && c != L'+' && c != L',' && c != L';' && c != L'=' && c != L'[' &&
           c != L']';
  });
  return plainCharacters && !base.empty() && base.size() <= 8 && extension.size() <= 3 &&
         extension.find(L'.') == std::wstring::npos;
}

std::wstring aliasStem(const std::wstring& text, std::size_t length) {
  std::wstring stem;
  for (const wchar_t c : upper(text)) {
    if (c == L' ' || c == L'.') continue;
    stem += (c < 0x80 && c != L'+' && c != L',' && c != L';' && c != L'=' && c != L'[' && c != L']')
                ? c
                : L'_';
    if (stem.size() == length) break;
  }
  return stem;
}

}  // namespace

SimulatedWindows::SimulatedWindows() {
  drives_[L'C'] = Node{L"C:", L"C:", kDirectoryAttribute, {}};
}

SimulatedWindows::Node* SimulatedWindows::drive(wchar_t letter) {
  const auto found = drives_.find(static_cast<wchar_t>(std::towupper(letter)));
  return found == drives_.end() ? nullptr : &found->second;
}

SimulatedWindows::Node& SimulatedWindows::add(const std::wstring& path, std::uint32_t attributes) {
  const wchar_t letter = static_cast<wchar_t>(std::towupper(path.at(0)));
  Node* node =
      &drives_
           .try_emplace(letter, Node{path.substr(0, 2), path.substr(0, 2), kDirectoryAttribute, {}})
           .first->second;
  const auto components = componentsOf(path);
  for (std::size_t i = 0; i < components.size(); ++i) {
    auto& siblings = node->children;
    auto existing = std::find_if(siblings.begin(), siblings.end(), [&](const Node& n) {
      return sameName(n.longName, components[i]);
    });
    if (existing == siblings.end()) {
      Node child{components[i], upper(components[i]), kDirectoryAttribute, {}};
      if (!isPlainShortName(components[i])) {
        const std::size_t dot = components[i].rfind(L'.');
        const std::wstring extension =
            dot == std::wstring::npos ? L"" : L"." + aliasStem(components[i].substr(dot + 1), 3);
        const std::wstring base = aliasStem(components[i].substr(0, dot), 6);
        for (int n = 1;; ++n) {
          child.shortName = base + L"~" + std::to_wstring(n) + extension;
          if (std::none_of(siblings.begin(), siblings.end(),
                           [&](const Node& s) { return sameName(s.shortName, child.shortName); })) {
            break;
          }
        }
      }
      siblings.push_back(child);
      existing = siblings.end() - 1;
    }
    node = &*existing;
  }
  node->attributes = attributes;
  return *node;
}

void SimulatedWindows::addFolder(const std::wstring& path, std::uint32_t attributes) {
  add(path, attributes | kDirectoryAttribute);
}

void SimulatedWindows::addFile(const std::wstring& path, std::uint32_t attributes) {
  add(path, attributes & ~kDirectoryAttribute);
}

std::wstring SimulatedWindows::shortAliasOf(const std::wstring& path) const {
  Lookup outcome;
  Node* node = const_cast<SimulatedWindows*>(this)->walk(path, outcome);
  return node == nullptr ? L"" : node->shortName;
}

SimulatedWindows::Node* SimulatedWindows::walk(const std::wstring& path, Lookup& outcome) {
  outcome = Lookup::kFolderMissing;
  if (path.size() < 2 || path[1] != L':') return nullptr;
  Node* node = drive(path[0]);
  if (node == nullptr) return nullptr;
  const auto components = componentsOf(path);
  for (std::size_t i = 0; i < components.size(); ++i) {
    const bool last = i + 1 == components.size();
    if ((node->attributes & kDirectoryAttribute) == 0) return nullptr;
    auto found = std::find_if(node->children.begin(), node->children.end(), [&](const Node& n) {
      return sameName(n.longName, components[i]) || sameName(n.shortName, components[i]);
    });
    if (found == node->children.end()) {
      if (last) outcome = Lookup::kMissing;
      return nullptr;
    }
    node = &*found;
  }
  outcome = Lookup::kFound;
  return node;
}

std::optional<std::wstring> SimulatedWindows::findEntryName(const std::wstring& path) {
  // The directory search takes a pattern: a path ending in a backslash names no entry.
  if (path.empty() || path.back() == L'\\') return std::nullopt;
  Lookup outcome;
  const Node* node = walk(path, outcome);
  if (node == nullptr || componentsOf(path).empty()) return std::nullopt;
  return node->longName;
}

std::uint32_t SimulatedWindows::fileAttributes(const std::wstring& path) {
  Lookup outcome;
  const Node* node = walk(path, outcome);
  if (node == nullptr) raiseError(outcome == Lookup::kMissing ? kFileNotFound : kPathNotFound);
  return node->attributes;
}

void SimulatedWindows::changeDirectory(const std::wstring& path) {
  Lookup outcome;
  const Node* node = walk(path, outcome);
  if (node == nullptr || (node->attributes & kDirectoryAttribute) == 0) raiseError(kPathNotFound);
  currentDirectory_ = path;
}

void SimulatedWindows::deleteFile(const std::wstring& path) {
  Lookup outcome;
  const Node* node = walk(path, outcome);
  if (node == nullptr || (node->attributes & kDirectoryAttribute) != 0) raiseError(kFileNotFound);
  const std::size_t slash = path.rfind(L'\\');
  Node* parent = walk(path.substr(0, slash), outcome);
  std::erase_if(parent->children, [&](const Node& n) { return &n == node; });
}

std::wstring SimulatedWindows::createPrivateFolder() {
  const std::wstring path =
      L"C:\\Users\\user\\AppData\\Local\\Temp\\parvo-" + std::to_wstring(++privateFolders_);
  addFolder(path);
  return path;
}

void SimulatedWindows::removeFolder(const std::wstring& path) noexcept {
  const std::size_t slash = path.rfind(L'\\');
  Lookup outcome;
  Node* parent = walk(path.substr(0, slash), outcome);
  if (parent == nullptr) return;
  const std::wstring name = path.substr(slash + 1);
  std::erase_if(parent->children, [&](const Node& n) { return n.longName == name; });
}

void SimulatedWindows::setSetting(const SettingKey& key, const std::wstring& value) {
  settings_[upper(key.application + L"\\" + key.section + L"\\" + key.key)] = value;
}

std::optional<std::wstring> SimulatedWindows::readSetting(const SettingKey& key) {
  const auto found = settings_.find(upper(key.application + L"\\" + key.section + L"\\" + key.key));
  if (found == settings_.end()) return std::nullopt;
  return found->second;
}

void SimulatedWindows::writeSetting(const SettingKey& key, const std::wstring& value) {
  if (failSettingWrites_) raiseError(kPathFileAccessError);
  setSetting(key, value);
}

void SimulatedWindows::showMessage(const std::wstring& text, const std::wstring& caption) {
  messages_.push_back({text, caption});
}

void SimulatedWindows::registerLibrary(const std::wstring& name,
                                       std::map<std::string, void*> entryPoints) {
  libraries_[upper(name)] = std::move(entryPoints);
}

std::unique_ptr<LoadedLibrary> SimulatedWindows::loadLibrary(const std::wstring& fileName) {
  const auto found = libraries_.find(upper(fileName));
  if (found == libraries_.end()) return nullptr;
  loadedLibraries_.push_back(fileName);

  class Library : public LoadedLibrary {
   public:
    explicit Library(const std::map<std::string, void*>& entries) : entries_(entries) {}
    void* entryPoint(const std::string& name) override {
      const auto entry = entries_.find(name);
      return entry == entries_.end() ? nullptr : entry->second;
    }

   private:
    std::map<std::string, void*> entries_;
  };
  return std::make_unique<Library>(found->second);
}

// The simulation's ANSI code page is UTF-8: only the Windows path rules are under test here.
std::string SimulatedWindows::toArchiverText(const std::wstring& text) const {
  return toUtf8(text);
}

std::wstring SimulatedWindows::fromArchiverText(const std::string& text) const {
  return fromUtf8(text);
}

}  // namespace parvo
