// The folder walk over trees made from the fuzz bytes: folders, files, links to files and to
// folders (the root, a folder that holds the link, one beside it), links leading outside or
// nowhere, pipes, fans of links to one folder, and names holding the bytes a format cannot store.
// Whatever the arrangement, the walk ends, visits each real file and folder once under its real
// path, takes a link to a file as that file, and names everything else it leaves out. The
// expectation is worked out from the tree by std::filesystem, independently of the walk.

#include "common/folder_walk.h"
#include "common/progress.h"
#include "fuzz_support.h"

namespace {

using namespace fuzz;

const char* unholdable(std::string_view name) {
  return name.find_first_of("\\\xFF") != std::string_view::npos ? "unholdable" : nullptr;
}

using Names = std::set<std::string>;

// What the walk must visit (real files and folders, links to files inside) and leave out.
void expectFolder(const fs::path& root, const std::string& path, Names& visited, Names& skipped) {
  for (const auto& item : fs::directory_iterator(root / path)) {
    const std::string name = item.path().filename().string();
    const std::string entry = path.empty() ? name : path + "/" + name;
    const fs::file_status status = item.symlink_status();
    bool visit = false;
    if (unholdable(name) == nullptr && fs::is_symlink(status)) {
      std::error_code error;
      const fs::path target = fs::canonical(root / entry, error);
      const fs::path relative = error ? fs::path() : target.lexically_relative(root);
      visit = !relative.empty() && relative != "." && *relative.begin() != fs::path("..") &&
              fs::is_regular_file(fs::symlink_status(target));
    } else if (unholdable(name) == nullptr) {
      visit = fs::is_directory(status) || fs::is_regular_file(status);
      if (fs::is_directory(status)) expectFolder(root, entry, visited, skipped);
    }
    (visit ? visited : skipped).insert(entry);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes bytes(data, size);
  const fs::path root = workFolder() / "walk/root";
  makeTree(bytes, root, {"a", "b", ".", "\\", "\xFF", "\xE6\x97\xA5", " "}, false, true);
  writeFile(root.parent_path() / "outside.txt", "outside");
  Names expectedVisited, expectedSkipped;
  expectFolder(root, "", expectedVisited, expectedSkipped);

  const InFolder in(root);
  Names visited;
  std::set<archivers::FileIdentity> folders;
  archivers::FollowedCall call(nullptr);
  archivers::FolderWalk walk({}, true, call, [](std::string_view path, archivers::WalkEntryType) {
    return unholdable(path.substr(path.rfind('/') + 1));
  });
  walk.walk([&](const archivers::WalkEntry& entry) {
    check(visited.insert(entry.path).second);
    if (entry.type == archivers::WalkEntryType::kFolder) {
      check(entry.sourcePath == entry.path && folders.insert(entry.identity).second);
      return;
    }
    archivers::WalkFile file = walk.open(entry);
    std::string contents(entry.size + 1, '\0');
    contents.resize(file.read(contents.data(), contents.size()));
    check(contents == readFile(root / entry.sourcePath));
  });
  Names skipped;
  for (const archivers::SkippedEntry& entry : walk.skipped()) {
    check(skipped.insert(entry.path).second && !entry.reason.empty());
  }
  check(skipped == expectedSkipped);
  check(visited == expectedVisited);
  return 0;
}
