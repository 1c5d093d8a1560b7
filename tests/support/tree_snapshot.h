#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <ostream>
#include <set>
#include <vector>

#include "support/temporary_folder.h"

// What the tests compare of a tree: every file, folder and link by relative path.
struct Node {
  char type = 'f';          // 'f' file, 'd' folder, 'l' link
  std::string content;      // a file's bytes or a link's target
  bool executable = false;  // files only
  std::int64_t mtime = 0;   // files only
  bool operator==(const Node&) const = default;
  friend void PrintTo(const Node& node, std::ostream* out) {
    *out << node.type << " " << node.content.size() << " bytes" << (node.executable ? " x" : "")
         << " mtime " << node.mtime;
  }
};
using Tree = std::map<std::string, Node>;

// Taken without following links; empty when root does not exist.
inline Tree snapshot(const fs::path& root) {
  Tree tree;
  std::error_code missing;
  for (fs::recursive_directory_iterator item(root, missing), end; item != end; ++item) {
    struct stat status {};
    if (lstat(item->path().c_str(), &status) != 0) continue;
    Node node;
    if (S_ISDIR(status.st_mode)) {
      node.type = 'd';
    } else if (S_ISLNK(status.st_mode)) {
      node = {'l', fs::read_symlink(item->path()).string()};
    } else {
      node = {'f', readFile(item->path()), (status.st_mode & S_IXUSR) != 0, status.st_mtime};
    }
    tree[item->path().lexically_relative(root).generic_string()] = node;
  }
  return tree;
}

using Contents = std::map<std::string, std::string>;

// What each entry under root holds: a file's bytes, "-> target" for a link, "<dir>" for a folder.
inline Contents entriesIn(const fs::path& root) {
  Contents contents;
  for (const auto& [name, node] : snapshot(root)) {
    contents[name] = node.type == 'd'   ? "<dir>"
                     : node.type == 'l' ? "-> " + node.content
                                        : node.content;
  }
  return contents;
}

// The regular files under root with their bytes.
inline Contents filesIn(const fs::path& root) {
  Contents contents;
  for (const auto& [name, node] : snapshot(root)) {
    if (node.type == 'f') contents[name] = node.content;
  }
  return contents;
}

// The same names with the same contents; a failure names entries rather than printing files.
inline void expectContents(const Contents& actual, const Contents& expected) {
  std::vector<std::string> actualNames, expectedNames;
  for (const auto& item : actual) actualNames.push_back(item.first);
  for (const auto& item : expected) expectedNames.push_back(item.first);
  EXPECT_EQ(actualNames, expectedNames);
  for (const auto& [name, contents] : expected) {
    const auto found = actual.find(name);
    if (found == actual.end()) continue;
    EXPECT_TRUE(found->second == contents)
        << name << ": " << found->second.size() << " bytes, expected " << contents.size();
  }
}

// Every file that landed under root is one of expected and whole: nothing partial, no temporary.
inline void expectOnlyIntactFiles(const fs::path& root, const Contents& expected) {
  for (const auto& [name, contents] : filesIn(root)) {
    const auto source = expected.find(name);
    ASSERT_NE(source, expected.end()) << "unexpected file " << name;
    EXPECT_TRUE(contents == source->second) << "partial or wrong " << name;
  }
}

// The names directly in folder other than the allowed ones: whatever landed beside the destination.
inline std::vector<std::string> strayNames(const fs::path& folder,
                                           const std::set<std::string>& allowed) {
  std::vector<std::string> stray;
  for (const auto& item : fs::directory_iterator(folder)) {
    const std::string name = item.path().filename().string();
    if (!allowed.count(name)) stray.push_back(name);
  }
  return stray;
}
