#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include "support/archiver_library.h"

// A temporary folder per test with the helpers the ZIP and TAR tests share: building a source tree,
// running peer tools, extracting through the real entry point and taking a snapshot of what landed.
class ExtractionFixture : public ::testing::Test {
 protected:
  static constexpr std::int64_t kMtime = 1600000000;  // even: ZIP's DOS time keeps it exactly

  // What the tests compare of a tree: every file, folder and link by name.
  struct Node {
    char type;            // 'f', 'd' or 'l'
    std::string content;  // file bytes or link text
    bool executable = false;
    std::int64_t mtime = 0;
    bool operator==(const Node&) const = default;
    friend void PrintTo(const Node& node, std::ostream* out) {
      *out << node.type << " " << node.content.size() << " bytes" << (node.executable ? " x" : "")
           << " mtime " << node.mtime;
    }
  };
  using Tree = std::map<std::string, Node>;

  void SetUp() override {
    char pattern[] = "/tmp/parvo-extract-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    std::filesystem::create_directories(source());
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  std::filesystem::path path(const std::string& relative) const { return root_ / relative; }
  std::filesystem::path source() const { return root_ / "source"; }
  std::filesystem::path destination() const { return root_ / "out"; }

  static void writeFile(const std::filesystem::path& file, const std::string& content,
                        bool executable = false) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    chmod(file.c_str(), executable ? 0755 : 0644);
    setMtime(file);
  }

  static void setMtime(const std::filesystem::path& entry) {
    const timespec times[2] = {{kMtime, 0}, {kMtime, 0}};
    utimensat(AT_FDCWD, entry.c_str(), times, AT_SYMLINK_NOFOLLOW);
  }

  static std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
    return bytes;
  }

  // Text, incompressible bytes, an empty file, an executable, deep and Japanese-named folders.
  void makeSampleTree() {
    std::string text;
    for (int line = 0; line < 20000; ++line) text += "line " + std::to_string(line) + " of text\n";
    writeFile(source() / "text.txt", text);
    writeFile(source() / "random.bin", randomBytes(300000, 1));
    writeFile(source() / "empty", "");
    writeFile(source() / "run.sh", "#!/bin/sh\necho hi\n", true);
    writeFile(source() / "a/b/c/deep.txt", "deep\n");
    writeFile(source() / "日本語/ファイル名.txt", "japanese\n");
    std::filesystem::create_directories(source() / "empty folder");
    for (const char* folder : {"a/b/c", "a/b", "a", "日本語", "empty folder"}) {
      setMtime(source() / folder);
    }
  }

  // Runs a shell command in the test folder; fails the test when it fails.
  void shell(const std::string& command) const {
    const std::string line = "cd '" + root_.string() + "' && (" + command + ") >/dev/null 2>&1";
    ASSERT_EQ(std::system(line.c_str()), 0) << command;
  }

  ArchiverResult extract(const std::string& library, const std::string& entryPoint,
                         const std::string& option, const std::string& archive) const {
    return callArchiver(
        library, entryPoint,
        option + " \"" + path(archive).string() + "\" \"" + destination().string() + "/\"");
  }

  static Tree snapshot(const std::filesystem::path& folder) {
    Tree tree;
    if (!std::filesystem::exists(folder)) return tree;
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
      struct stat status {};
      lstat(item.path().c_str(), &status);
      Node node{'f', "", (status.st_mode & 0100) != 0, status.st_mtime};
      if (S_ISDIR(status.st_mode)) {
        node = {'d', "", false, 0};
      } else if (S_ISLNK(status.st_mode)) {
        node = {'l', std::filesystem::read_symlink(item.path()).string(), false, 0};
      } else {
        std::ifstream stream(item.path(), std::ios::binary);
        node.content.assign(std::istreambuf_iterator<char>(stream), {});
      }
      tree[std::filesystem::relative(item.path(), folder).string()] = node;
    }
    return tree;
  }

  // Everything in the test folder outside the source and the destination.
  std::vector<std::string> strayEntries(const std::vector<std::string>& expected) const {
    std::vector<std::string> stray;
    for (const auto& item : std::filesystem::directory_iterator(root_)) {
      const std::string name = item.path().filename().string();
      if (name != "source" && name != "out" &&
          std::find(expected.begin(), expected.end(), name) == expected.end()) {
        stray.push_back(name);
      }
    }
    return stray;
  }

  std::filesystem::path root_;
};

// The ways the result may go wrong, as the libraries number them.
enum : int32_t { kOk = 0, kBadCommandLine = 1, kCannotOpen = 2, kCorrupt = 3, kUnsupported = 4 };
enum : int32_t { kWriteFailed = 5, kEntriesRefused = 6 };
