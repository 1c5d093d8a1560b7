#pragma once

// What the fuzz targets share: a work folder, a reader's run from memory, trees made from the fuzz
// bytes and a writer's round trip. Files, trees and sinks are the test suite's own helpers.

#include <algorithm>
#include <cstdlib>

#include "common/archive_input.h"
#include "common/extraction_sink.h"
#include "format_readers.h"
#include "support/bit_stream.h"
#include "support/tree_snapshot.h"

namespace fuzz {

inline void check(bool condition) {
  if (!condition) std::abort();
}

// A fresh folder for the whole run, removed on exit.
inline const fs::path& workFolder() {
  static const TemporaryFolder folder;
  return folder.path();
}

// Whether the extraction stayed in output, kLevels folders below the work folder: each folder
// above it holds nothing else, so whatever climbed out by up to that many levels is seen, and no
// link in output resolves outside it.
inline constexpr int kLevels = 6;

inline bool stayedInside(const fs::path& output) {
  fs::path level = workFolder();
  for (int i = 0; i < kLevels && fs::exists(level); ++i) {
    const fs::path next = i + 1 < kLevels ? level / "d" : output;
    for (const fs::directory_entry& entry : fs::directory_iterator(level)) {
      if (entry.path() != next) return false;
    }
    level = next;
  }
  if (!fs::exists(output)) return true;
  const std::string inside = fs::canonical(output).string() + "/";
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(output)) {
    if (!entry.is_symlink()) continue;
    std::error_code leadsNowhere;
    const fs::path resolved = fs::canonical(entry.path(), leadsNowhere);
    if (!leadsNowhere && !(resolved.string() + "/").starts_with(inside)) return false;
  }
  return true;
}

// Reads the input from memory as an archive, with the given reader, into a folder emptied
// afterwards. Only kInternal stands for a fault of ours rather than of the input; anything written
// outside the folder, or a link in it leading outside, is a breach.
inline void readInput(const std::uint8_t* data, std::size_t size,
                      const archivers::FormatReader& reader) {
  fs::path output = workFolder();
  for (int i = 0; i + 1 < kLevels; ++i) output /= "d";
  output /= "out";
  fs::create_directories(output.parent_path());
  try {
    archivers::MemoryArchiveInput input(
        std::string_view(reinterpret_cast<const char*>(data), size));
    archivers::FollowedCall call(nullptr);
    archivers::extractArchive(reader, input, output.string(), call);
  } catch (const archivers::ArchiveError& error) {
    check(error.result() != archivers::Result::kInternal);
  }
  check(stayedInside(output));
  fs::remove_all(workFolder() / "d");
}

// The fuzz bytes taken in order; zeros once they run out.
struct Bytes {
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return position_ == size_; }
  std::uint8_t next() { return position_ < size_ ? data_[position_++] : 0; }
  std::string take(std::size_t count) {
    count = std::min(count, size_ - position_);
    std::string bytes(reinterpret_cast<const char*>(data_ + position_), count);
    position_ += count;
    return bytes;
  }
  const std::uint8_t* data_;
  std::size_t size_, position_ = 0;
};

// Up to 48 entries under tree, made from the fuzz bytes: folders, files, links to files made
// before them, names put together from pieces. For the folder walk, also links to folders (fans of
// them when several lead to one), links leading outside the tree or nowhere, and pipes, all
// relative as users make them. Returns what a reader must give back; folders only when withFolders.
inline Contents makeTree(Bytes& bytes, const fs::path& tree, const std::vector<std::string>& pieces,
                         bool withFolders, bool forWalk = false) {
  fs::remove_all(tree);
  fs::create_directories(tree);
  std::vector<std::string> folders = {""}, files;
  Contents expected;
  for (int entries = 0; entries < 48 && !bytes.empty(); ++entries) {
    const std::uint8_t kind = bytes.next() % (forWalk ? 7 : 4);
    const std::string parent = folders[bytes.next() % folders.size()];
    std::string name;
    for (int length = 1 + bytes.next() % 6; length > 0; --length) {
      name += pieces[bytes.next() % pieces.size()];
    }
    if (name == "." || name == "..") name += "x";
    const std::string path = (parent.empty() ? "" : parent + "/") + name;
    if (fs::exists(fs::symlink_status(tree / path))) continue;
    std::string toRoot;  // up from the entry's folder to the tree
    for (const char c : path) toRoot += c == '/' ? "../" : "";
    if (kind == 0) {
      fs::create_directory(tree / path);
      folders.push_back(path);
      if (withFolders) expected[path] = "<dir>";
    } else if (kind == 3 && !files.empty()) {
      const std::string target = files[bytes.next() % files.size()];
      fs::create_symlink(tree / target, tree / path);
      expected[path] = expected[target];
      files.push_back(path);
    } else if (kind == 4) {
      fs::create_symlink(toRoot + folders[bytes.next() % folders.size()] + "/.", tree / path);
    } else if (kind == 5) {
      fs::create_symlink(bytes.next() % 2 ? toRoot + "../outside.txt" : "nowhere", tree / path);
    } else if (kind == 6) {
      mkfifo((tree / path).c_str(), 0600);
    } else {
      std::string contents = bytes.take(bytes.next() | (bytes.next() << 8));
      // Long repetitive contents cross block boundaries without needing long inputs.
      if (kind == 2 && !contents.empty()) {
        const std::size_t length = 1024 * (1 + bytes.next() % 128);
        while (contents.size() < length) contents += contents;
        contents.resize(length);
      }
      std::ofstream(tree / path, std::ios::binary) << contents;
      expected[path] = contents;
      files.push_back(path);
    }
  }
  return expected;
}

// A writer's round trip: the tree under work/tree, packed from inside it (as Parvo packs) into
// work/archive by the pack command, must extract through the same library (the extract command,
// given the archive and the destination) into everything in expected, folders too when the format
// keeps them; a tree of no files must make no archive when noFilesResult says so.
template <typename Entry>
void roundTrip(Entry entry, const Contents& expected, const std::string& archiveName,
               const std::string& pack, const std::string& extract, std::int32_t noFilesResult,
               bool withFolders) {
  const std::string archive = '"' + (workFolder() / archiveName).string() + '"';
  const fs::path out = workFolder() / "out", previous = fs::current_path();
  fs::remove(workFolder() / archiveName);
  fs::remove_all(out);
  char output[256] = {};
  fs::current_path(workFolder() / "tree");
  const std::int32_t result = entry(0, (pack + " " + archive + " *.*").c_str(), output, 256);
  fs::current_path(previous);
  if (expected.empty() && noFilesResult != 0) {
    check(result == noFilesResult && !fs::exists(workFolder() / archiveName));
    return;
  }
  check(result == 0);
  const std::string line = extract + " " + archive + " \"" + out.string() + "/\"";
  check(entry(0, line.c_str(), output, 256) == 0);
  check((withFolders ? entriesIn(out) : filesIn(out)) == expected);
}

}  // namespace fuzz
