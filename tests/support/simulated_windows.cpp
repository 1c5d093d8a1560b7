#include "support/simulated_windows.h"

namespace parvo {

SimulatedWindows::Node* SimulatedWindows::walk(const std::wstring& path, bool* missingLeaf,
                                               bool create) {
  if (missingLeaf) *missingLeaf = false;
  if (path.size() < 2 || std::towupper(path[0]) != L'C' || path[1] != L':') return nullptr;
  Node* node = &drive_;
  const auto components = componentsOf(path);
  for (std::size_t i = 0; i < components.size(); ++i) {
    if (!node->isFolder) return nullptr;
    const std::wstring name = upper(components[i]);
    auto found = std::find_if(node->children.begin(), node->children.end(), [&](const Node& n) {
      return upper(n.longName) == name || upper(n.shortName) == name;
    });
    if (found == node->children.end() && create) {
      found = node->children.insert(found, Node{components[i], components[i], true, {}});
    }
    if (found == node->children.end()) {
      if (missingLeaf) *missingLeaf = i + 1 == components.size();
      return nullptr;
    }
    node = &*found;
  }
  return node;
}

std::unique_ptr<LoadedLibrary> SimulatedWindows::loadLibrary(const std::wstring& fileName) {
  struct Library : LoadedLibrary {
    std::map<std::string, void*> entries;
    void* entryPoint(const std::string& name) override {
      const auto entry = entries.find(name);
      return entry == entries.end() ? nullptr : entry->second;
    }
  };
  const auto found = libraries_.find(upper(fileName));
  if (found == libraries_.end()) return nullptr;
  loadedLibraries.push_back(fileName);
  auto library = std::make_unique<Library>();
  library->entries = found->second;
  return library;
}

}  // namespace parvo
