#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>

#include "support/archiver_library.h"
#include "support/process.h"
#include "support/temporary_folder.h"

inline ArchiverResult extractLzh(const std::string& archive, const std::string& destination) {
  return callArchiver("libunlha32.so", "Unlha",
                      "e -rxy \"" + archive + "\" \"" + destination + "/\"");
}

inline std::string lzhFixture(const std::string& name) {
  return std::string(PARVO_SOURCE_DIR) + "/tests/lzh/fixtures/" + name;
}

inline std::string corpusArchive(const std::string& name) {
  return std::string(PARVO_CORPUS_DIR) + "/lzh/" + name;
}

// Every entry under root (files with their contents, folders and links marked), by relative path.
inline std::map<std::string, std::string> treeOf(const std::filesystem::path& root) {
  std::map<std::string, std::string> tree;
  if (!std::filesystem::exists(root)) return tree;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string relative = entry.path().lexically_relative(root).string();
    if (entry.is_symlink()) {
      tree[relative] = "-> " + std::filesystem::read_symlink(entry.path()).string();
    } else if (entry.is_directory()) {
      tree[relative] = "<dir>";
    } else {
      tree[relative] = readFile(entry.path());
    }
  }
  return tree;
}

// Runs jlha (a peer archiver) in folder to create archive from the given names.
inline ProcessResult runJlha(const std::string& folder, const std::string& archive,
                             const std::vector<std::string>& names) {
  std::vector<std::string> argv = {"/usr/bin/jlha", "c", archive};
  argv.insert(argv.end(), names.begin(), names.end());
  return runProcess(argv, {"PATH=/usr/bin:/bin", "HOME=" + folder, "LC_ALL=C.UTF-8"}, folder);
}
