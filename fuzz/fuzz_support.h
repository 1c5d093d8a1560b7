#pragma once

// What the fuzz targets share: a work folder of their own, sinks that count or keep what a decoder
// writes, and for the writers a tree made from the fuzz bytes and read back from disk.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "common/archive_error.h"
#include "common/stream.h"

namespace fuzz {

namespace fs = std::filesystem;

inline void check(bool condition) {
  if (!condition) std::abort();
}

// A fresh folder under /tmp for the whole run, removed on exit.
inline const fs::path& workFolder() {
  static const struct Folder {
    fs::path path;
    ~Folder() {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
  } folder{[] {
    std::string pattern = "/tmp/parvo-fuzz-XXXXXX";
    check(mkdtemp(pattern.data()) != nullptr);
    return fs::path(pattern);
  }()};
  return folder.path;
}

// The input written to a file in the work folder, for the readers that take a path.
inline std::string writtenToFile(const std::uint8_t* data, std::size_t size,
                                 const std::string& name) {
  const std::string path = (workFolder() / name).string();
  FILE* file = std::fopen(path.c_str(), "wb");
  check(file != nullptr && std::fwrite(data, 1, size, file) == size && std::fclose(file) == 0);
  return path;
}

// Extracts the input as an archive into a folder emptied afterwards. Only kInternal stands for a
// fault of ours rather than of the input.
template <typename Extract>
void extractInput(const std::uint8_t* data, std::size_t size, const std::string& name,
                  Extract extract) {
  const std::string archive = writtenToFile(data, size, name);
  const fs::path output = workFolder() / "out";
  try {
    extract(archive, output.string() + "/");
  } catch (const archivers::ArchiveError& error) {
    check(error.result() != archivers::Result::kInternal);
  }
  fs::remove_all(output);
}

struct CountingSink : archivers::ByteSink {
  std::uint64_t total = 0;
  void write(const std::uint8_t*, std::size_t size) override { total += size; }
};

struct VectorSink : archivers::ByteSink {
  std::vector<std::uint8_t> bytes;
  void write(const std::uint8_t* data, std::size_t size) override {
    bytes.insert(bytes.end(), data, data + size);
  }
};

// The fuzz bytes taken in order; zeros once they run out.
class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return position_ == size_; }
  std::uint8_t next() { return position_ < size_ ? data_[position_++] : 0; }
  std::string take(std::size_t count) {
    count = std::min(count, size_ - position_);
    std::string bytes(reinterpret_cast<const char*>(data_ + position_), count);
    position_ += count;
    return bytes;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

using Entries = std::map<std::string, std::string>;  // path to bytes, "<dir>" for a folder

// Up to 48 entries under tree, made from the fuzz bytes: folders, files, links to files made
// before them, names put together from pieces. Returns what a reader must give back; folders are
// in it only when withFolders.
inline Entries makeTree(Bytes& bytes, const fs::path& tree, const std::vector<std::string>& pieces,
                        bool withFolders) {
  fs::remove_all(tree);
  fs::create_directories(tree);
  std::vector<std::string> folders = {""}, files;
  Entries expected;
  for (int entries = 0; entries < 48 && !bytes.empty(); ++entries) {
    const std::uint8_t kind = bytes.next() % 4;
    const std::string parent = folders[bytes.next() % folders.size()];
    std::string name;
    for (int length = 1 + bytes.next() % 6; length > 0; --length) {
      name += pieces[bytes.next() % pieces.size()];
    }
    if (name == "." || name == "..") name += "x";
    const std::string path = (parent.empty() ? "" : parent + "/") + name;
    if (fs::exists(fs::symlink_status(tree / path))) continue;
    if (kind == 0) {
      fs::create_directory(tree / path);
      folders.push_back(path);
      if (withFolders) expected[path] = "<dir>";
    } else if (kind == 3 && !files.empty()) {
      const std::string target = files[bytes.next() % files.size()];
      fs::create_symlink(tree / target, tree / path);
      expected[path] = expected[target];
      files.push_back(path);
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

// Calls an archiver's entry point with folder as the current folder (Parvo packs from inside it).
template <typename Entry>
std::int32_t callIn(const fs::path& folder, Entry entry, const std::string& commandLine) {
  const fs::path previous = fs::current_path();
  fs::current_path(folder);
  char output[256] = {};
  const std::int32_t result = entry(0, commandLine.c_str(), output, sizeof output);
  fs::current_path(previous);
  return result;
}

inline std::string fileBytes(const fs::path& path) {
  std::ifstream stream(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(stream), {});
}

// Every entry under root; none when root does not exist.
inline Entries entriesUnder(const fs::path& root) {
  Entries entries;
  if (!fs::exists(root)) return entries;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const std::string path = item.path().lexically_relative(root).string();
    entries[path] = item.is_directory() ? "<dir>" : fileBytes(item.path());
  }
  return entries;
}

}  // namespace fuzz
