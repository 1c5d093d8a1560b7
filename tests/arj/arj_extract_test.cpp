// Archives made by the arj tool, extracted through the library's entry point.
#include <sys/stat.h>

#include "arj_test_support.h"

namespace arj_test {
namespace {

constexpr std::int64_t kTimestamp = 1577934246;  // 2020-01-02 03:04:06 UTC, an even second

// Text that compresses but is not trivially repetitive, over 300 KiB so that it spans several
// windows and several Huffman blocks.
std::string largeText() {
  std::string text;
  std::uint32_t seed = 7;
  while (text.size() < 320 * 1024) {
    seed = seed * 1103515245u + 12345u;
    text += "line " + std::to_string(text.size()) + " value " + std::to_string(seed % 1000) +
            ((seed >> 16) % 3 == 0 ? " lorem ipsum dolor sit amet\n" : "\n");
  }
  return text;
}

std::map<std::string, std::string> sampleTree() {
  return {
      {"readme.txt", "Hello, ARJ.\nSecond line.\n"},
      {"empty.dat", ""},
      {"noise.bin", noise(100 * 1024, 42)},
      {"large.txt", largeText()},
      {"sub/nested.txt", std::string(5000, 'a') + "tail"},
      {"sub/deeper/tool.sh", "#!/bin/sh\necho hi\n"},
      {"sub/\xC3\xBCnicode-\xE5\x90\x8D\xE5\x89\x8D.txt", "stored as UTF-8 by arj on Linux\n"},
  };
}

void writeTree(const fs::path& root, const std::map<std::string, std::string>& files) {
  for (const auto& [name, contents] : files) writeFile(root / name, contents);
  fs::permissions(root / "sub/deeper/tool.sh", fs::perms::owner_exec, fs::perm_options::add);
  for (const auto& [name, contents] : files) {
    const timespec times[2] = {{kTimestamp, 0}, {kTimestamp, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (root / name).c_str(), times, 0), 0) << name;
  }
}

struct Compression {
  int method;
  std::string extraOption;  // tuning the encoder must not matter to the decoder
};

class ArjMethods : public ::testing::TestWithParam<Compression> {};

TEST_P(ArjMethods, ExtractsEveryFileByteForByte) {
  const int method = GetParam().method;
  TemporaryFolder folder;
  const auto files = sampleTree();
  writeTree(folder / "tree", files);
  std::vector<std::string> arguments = {"a", "-m" + std::to_string(method), "-r", "-y"};
  if (!GetParam().extraOption.empty()) arguments.push_back(GetParam().extraOption);
  arguments.insert(arguments.end(), {"../test.arj", "*"});
  runArj(arguments, folder / "tree");

  // The large text really went through the method under test.
  const std::string archive = readFile(folder / "test.arj");
  for (const HeaderSpan& header : headersOf(archive)) {
    if (header.name() == "large.txt") {
      EXPECT_EQ(header.method(), method);
    }
  }

  const ArchiverResult result = extract(folder / "test.arj", folder / "out");
  ASSERT_EQ(result.code, 0) << result.output;
  expectFiles(folder / "out", files);

  struct stat info {};
  ASSERT_EQ(stat((folder / "out/sub/deeper/tool.sh").c_str(), &info), 0);
  EXPECT_NE(info.st_mode & S_IXUSR, 0u);
  ASSERT_EQ(stat((folder / "out/large.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, kTimestamp);
  EXPECT_EQ(info.st_mode & S_IXUSR, 0u);
}

INSTANTIATE_TEST_SUITE_P(StoredToFastest, ArjMethods,
                         ::testing::Values(Compression{0, ""}, Compression{1, ""},
                                           Compression{2, ""}, Compression{3, ""},
                                           Compression{4, ""}, Compression{1, "-jm"},
                                           Compression{1, "-jh2048"}, Compression{1, "-jh65535"}));

TEST(ArjExtract, CreatesStoredFoldersEmptyOnesIncluded) {
  TemporaryFolder folder;
  fs::create_directories(folder / "tree/empty/inner");
  writeFile(folder / "tree/full/file.txt", "content\n");
  runArj({"a", "-r", "-a1", "-y", "../dirs.arj", "*"}, folder / "tree");

  const ArchiverResult result = extract(folder / "dirs.arj", folder / "out");
  ASSERT_EQ(result.code, 0) << result.output;
  EXPECT_TRUE(fs::is_directory(folder / "out/empty/inner"));
  EXPECT_EQ(readFile(folder / "out/full/file.txt"), "content\n");
}

TEST(ArjExtract, SkipsASelfExtractorInFront) {
  TemporaryFolder folder;
  writeFile(folder / "tree/a.txt", "after a prefix\n");
  runArj({"a", "-y", "../plain.arj", "a.txt"}, folder / "tree");
  // A stray header id with a plausible size but a wrong CRC must not be taken for the archive.
  const std::string prefix = "MZ" + noise(3000, 1) + "\x60\xEA\x20\x00" + std::string(40, 'x');
  writeFile(folder / "sfx.arj", prefix + readFile(folder / "plain.arj"));

  const ArchiverResult result = extract(folder / "sfx.arj", folder / "out");
  ASSERT_EQ(result.code, 0) << result.output;
  expectFiles(folder / "out", (std::map<std::string, std::string>{{"a.txt", "after a prefix\n"}}));
}

TEST(ArjExtract, DecodesCp932NamesBeforeSeparators) {
  TemporaryFolder folder;
  writeFile(folder / "tree/x.txt", "shift-jis\n");
  runArj({"a", "-y", "../names.arj", "x.txt"}, folder / "tree");
  // "dir\表.txt" in CP932: the trail byte of 表 (0x95 0x5C) is a backslash.
  const std::string cp932 = "dir\\\x95\x5C.txt";
  writeFile(folder / "names.arj", withName(readFile(folder / "names.arj"), 1, cp932));

  const ArchiverResult result = extract(folder / "names.arj", folder / "out");
  ASSERT_EQ(result.code, 0) << result.output;
  expectFiles(folder / "out",
              (std::map<std::string, std::string>{{"dir/\xE8\xA1\xA8.txt", "shift-jis\n"}}));
}

TEST(ArjCommandLine, AcceptsOnlyTheExtractCommand) {
  TemporaryFolder folder;
  writeFile(folder / "tree/a.txt", "a\n");
  runArj({"a", "-y", "../a.arj", "a.txt"}, folder / "tree");
  const std::string archive = "\"" + (folder / "a.arj") + "\" ";
  const std::string destination = "\"" + (folder / "out") + "/\"";
  for (const std::string& line :
       {"e -u " + archive + destination, "x " + archive + destination,
        "x -u -r " + archive + destination, "x -u " + archive,
        "x -u " + archive + destination + " extra", "x -u \"" + (folder / "a.arj")}) {
    EXPECT_EQ(callArchiver("libunarj32.so", "UnArj", line).code, 1) << line;
  }
  EXPECT_FALSE(fs::exists(folder / "out"));
  EXPECT_EQ(callArchiver("libunarj32.so", "UnArj", "x -u " + archive + destination).code, 0);
}

TEST(ArjCommandLine, ReportsAMissingOrForeignArchive) {
  TemporaryFolder folder;
  writeFile(folder / "not.arj", noise(10000, 3));
  for (const char* name : {"missing.arj", "not.arj"}) {
    const ArchiverResult result = extract(folder / name, folder / "out");
    EXPECT_EQ(result.code, 2) << name;
    EXPECT_FALSE(result.output.empty());
  }
  EXPECT_FALSE(fs::exists(folder / "out"));
}

}  // namespace
}  // namespace arj_test
