// Archives made by the arj tool, extracted through the library's entry point.
#include "arj_headers.h"
#include "support/archiver_library.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/tree_snapshot.h"

namespace arj_test {
namespace {

namespace fs = std::filesystem;

struct Compression {
  int method;
  std::string extraOption;  // tuning the encoder must not matter to the decoder
};

class ArjMethods : public ::testing::TestWithParam<Compression> {};

TEST_P(ArjMethods, ExtractsEveryFileWithModeAndTime) {
  const int method = GetParam().method;
  TemporaryFolder folder;
  writeFiles(folder / "tree", sampleFiles());
  std::vector<std::string> arguments = {"arj", "a", "-m" + std::to_string(method), "-r", "-y"};
  if (!GetParam().extraOption.empty()) arguments.push_back(GetParam().extraOption);
  arguments.insert(arguments.end(), {"../test.arj", "*"});
  runTool(arguments, folder / "tree");

  // The varied text really went through the method under test.
  for (const HeaderSpan& header : headersOf(readFile(folder / "test.arj"))) {
    if (header.name() == "text.txt") {
      EXPECT_EQ(header.method(), method);
    }
  }
  const ArchiverResult result = extractWith(kArj, folder / "test.arj", folder / "out");
  ASSERT_EQ(result.code, kOk) << result.output;
  EXPECT_EQ(snapshot(folder / "out"), snapshot(folder / "tree"));
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
  runTool({"arj", "a", "-r", "-a1", "-y", "../dirs.arj", "*"}, folder / "tree");

  const ArchiverResult result = extractWith(kArj, folder / "dirs.arj", folder / "out");
  ASSERT_EQ(result.code, kOk) << result.output;
  EXPECT_EQ(entriesIn(folder / "out"), entriesIn(folder / "tree"));
}

// The arj tool's archive of a.txt.
std::string oneFileArchive(const TemporaryFolder& folder, const std::string& contents) {
  writeFile(folder / "tree/a.txt", contents);
  runTool({"arj", "a", "-y", "../a.arj", "a.txt"}, folder / "tree");
  return readFile(folder / "a.arj");
}

TEST(ArjExtract, SkipsASelfExtractorInFront) {
  TemporaryFolder folder;
  // A stray header id with a plausible size but a wrong CRC must not be taken for the archive.
  const std::string prefix = "MZ" + noise(3000, 1) + "\x60\xEA\x20\x00" + std::string(40, 'x');
  writeFile(folder / "sfx.arj", prefix + oneFileArchive(folder, "after a prefix\n"));

  const ArchiverResult result = extractWith(kArj, folder / "sfx.arj", folder / "out");
  ASSERT_EQ(result.code, kOk) << result.output;
  EXPECT_EQ(filesIn(folder / "out"), (Contents{{"a.txt", "after a prefix\n"}}));
}

TEST(ArjExtract, DecodesCp932NamesBeforeSeparators) {
  TemporaryFolder folder;
  // "dir\表.txt" in CP932: the trail byte of 表 (0x95 0x5C) is a backslash.
  writeFile(folder / "names.arj",
            withName(oneFileArchive(folder, "shift-jis\n"), 1, "dir\\\x95\x5C.txt"));

  const ArchiverResult result = extractWith(kArj, folder / "names.arj", folder / "out");
  ASSERT_EQ(result.code, kOk) << result.output;
  EXPECT_EQ(filesIn(folder / "out"), (Contents{{"dir/\xE8\xA1\xA8.txt", "shift-jis\n"}}));
}

TEST(ArjCommandLine, AcceptsOnlyTheExtractCommand) {
  TemporaryFolder folder;
  oneFileArchive(folder, "a\n");
  const std::string archive = "\"" + (folder / "a.arj") + "\" ";
  const std::string destination = "\"" + (folder / "out") + "/\"";
  for (const std::string& line :
       {"e -u " + archive + destination, "x " + archive + destination,
        "x -u -r " + archive + destination, "x -u " + archive,
        "x -u " + archive + destination + " extra", "x -u \"" + (folder / "a.arj")}) {
    EXPECT_EQ(callArchiver(kArj, line).code, kBadCommandLine) << line;
  }
  EXPECT_FALSE(fs::exists(folder / "out"));
  EXPECT_EQ(callArchiver(kArj, "x -u " + archive + destination).code, kOk);
}

TEST(ArjCommandLine, ReportsAMissingOrForeignArchive) {
  TemporaryFolder folder;
  writeFile(folder / "not.arj", noise(10000, 3));
  for (const char* name : {"missing.arj", "not.arj"}) {
    const ArchiverResult result = extractWith(kArj, folder / name, folder / "out");
    EXPECT_EQ(result.code, kCannotOpen) << name;
    EXPECT_FALSE(result.output.empty());
  }
  EXPECT_FALSE(fs::exists(folder / "out"));
}

}  // namespace
}  // namespace arj_test
