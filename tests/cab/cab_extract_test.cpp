#include <sys/stat.h>

#include <ctime>
#include <fstream>
#include <random>

#include "cab_test_support.h"

namespace cabtest {
namespace {

// A source tree with subfolders, an empty file, a UTF-8 name and incompressible data spanning
// several 32 KiB blocks.
std::map<std::string, std::string> sampleTree() {
  std::mt19937 random(7);
  std::string noise(150000, '\0');
  for (char& byte : noise) byte = static_cast<char>(random() & 0xFF);
  std::string text;
  for (int line = 0; line < 4000; ++line) text += "line " + std::to_string(line) + " of text\n";
  return {
      {"readme.txt", "top level\n"},
      {"docs/manual.txt", text},
      {"docs/deeper/noise.bin", noise},
      {"docs/deeper/empty", ""},
      {"\xe8\xa1\xa8/\xc3\xbcnicode name.txt", "utf-8 named\n"},
  };
}

std::vector<std::string> writeSource(const fs::path& root,
                                     const std::map<std::string, std::string>& tree) {
  std::vector<std::string> names;
  for (const auto& [path, contents] : tree) {
    writeFile(root / path, contents);
    names.push_back(path);
  }
  return names;
}

class GcabRoundTrip : public ::testing::TestWithParam<bool> {};

TEST_P(GcabRoundTrip, ExtractsEveryFileAndNameExactly) {
  const bool mszip = GetParam();
  TemporaryFolder work;
  const auto tree = sampleTree();
  std::vector<std::string> command = {"gcab", "-c"};
  if (mszip) command.push_back("-z");
  command.push_back(work / "made.cab");
  for (const std::string& name : writeSource(work.path() / "src", tree)) command.push_back(name);
  runTool(command, work.path() / "src");

  const ArchiverResult result = extractCab(work / "made.cab", work / "out");
  ASSERT_EQ(result.code, 0) << result.output;
  EXPECT_EQ(readTree(work.path() / "out"), tree);
}

INSTANTIATE_TEST_SUITE_P(StoredAndMszip, GcabRoundTrip, ::testing::Values(false, true));

TEST(CabExtract, KeepsTheStoredLocalTime) {
  TemporaryFolder work;
  writeFile(work.path() / "src/dated.txt", "dated\n");
  std::tm local{};
  local.tm_year = 2019 - 1900;
  local.tm_mon = 6;
  local.tm_mday = 15;
  local.tm_hour = 13;
  local.tm_min = 45;
  local.tm_sec = 30;
  local.tm_isdst = -1;
  const std::time_t stamp = std::mktime(&local);
  fs::last_write_time(
      work.path() / "src/dated.txt",
      fs::file_time_type::clock::from_sys(std::chrono::system_clock::from_time_t(stamp)));
  runTool({"gcab", "-c", work / "dated.cab", "dated.txt"}, work.path() / "src");

  ASSERT_EQ(extractCab(work / "dated.cab", work / "out").code, 0);
  struct stat status {};
  ASSERT_EQ(stat((work / "out/dated.txt").c_str(), &status), 0);
  EXPECT_EQ(status.st_mtime, stamp);
}

TEST(CabExtract, FindsTheCabinetInsideASelfExtractingProgram) {
  TemporaryFolder work;
  const auto tree = sampleTree();
  std::vector<std::string> command = {"gcab", "-c", "-z", work / "inner.cab"};
  for (const std::string& name : writeSource(work.path() / "src", tree)) command.push_back(name);
  runTool(command, work.path() / "src");

  std::string program = "MZ";
  program.append(70000, '\x90');
  program += "MSCF not really a header";
  program.append(3000, '\0');
  writeFile(work.path() / "setup.exe", program + readFile(work.path() / "inner.cab") + "trailer");

  const ArchiverResult result = extractCab(work / "setup.exe", work / "out");
  ASSERT_EQ(result.code, 0) << result.output;
  EXPECT_EQ(readTree(work.path() / "out"), tree);
}

std::string lzxPattern() {
  std::string pattern(40000, '\0');
  for (std::size_t i = 0; i < pattern.size(); ++i)
    pattern[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  return pattern;
}

TEST(CabExtract, ReadsTheCommittedLzxCabinet) {
  TemporaryFolder work;
  const ArchiverResult result = extractCab(
      std::string(PARVO_SOURCE_DIR) + "/tests/cab/fixtures/lzx_stored.cab", work / "out");
  ASSERT_EQ(result.code, 0) << result.output;
  const std::map<std::string, std::string> expected = {
      {"lzx/hello.txt", "Hello from an LZX cabinet\n"},
      {"lzx/pattern.bin", lzxPattern()},
      {"lzx/run.sh", "#!/bin/sh\necho run\n"},
      {"lzx/gr\xc3\xb6\xc3\x9f"
       "e.txt",
       "odd length!"},
  };
  EXPECT_EQ(readTree(work.path() / "out"), expected);
  EXPECT_EQ(fs::status(work.path() / "out/lzx/run.sh").permissions() & fs::perms::owner_exec,
            fs::perms::owner_exec);
  EXPECT_EQ(fs::status(work.path() / "out/lzx/hello.txt").permissions() & fs::perms::owner_exec,
            fs::perms::none);
}

// Corpus cabinets for the methods no tool here writes (LZX with compressed blocks, Quantum):
// our output must equal the peer extractor's, file for file.
TEST(CabExtract, MatchesThePeerExtractorOnLzxAndQuantumCabinets) {
  const fs::path corpus = PARVO_CORPUS_DIR;
  if (!fs::exists(corpus / "MANIFEST.tsv")) GTEST_SKIP() << "corpus not present";
  for (const char* name :
       {"cab/cabextract/mixed.cab", "cab/cabextract/cve-2010-2801-qtm-flush.cab",
        "cab/mspack/normal_2files_2folders.cab", "cab/libarchive/cab_lzx_e8.cab",
        "cab/libarchive/cab_lzx_16bit.cab", "cab/libarchive/cab_lzx_literal_control.cab"}) {
    SCOPED_TRACE(name);
    TemporaryFolder work;
    runTool({"cabextract", "-q", "-d", work / "peer", (corpus / name).string()}, work.path());
    const ArchiverResult result = extractCab((corpus / name).string(), work / "ours");
    ASSERT_EQ(result.code, 0) << result.output;
    const auto ours = readTree(work.path() / "ours");
    EXPECT_FALSE(ours.empty());
    EXPECT_EQ(ours, readTree(work.path() / "peer"));
  }
}

}  // namespace
}  // namespace cabtest

namespace cabtest {
namespace {

// A set of five cabinets whose folders span parts: dropping any part extracts the whole set.
TEST(CabSet, JoinsTheOtherPartsFromTheSameFolder) {
  const fs::path corpus = fs::path(PARVO_CORPUS_DIR) / "cab/cabextract";
  if (!fs::exists(corpus / "split-1.cab")) GTEST_SKIP() << "corpus not present";
  TemporaryFolder work;
  runTool({"cabextract", "-q", "-d", work / "peer", (corpus / "split-1.cab").string()},
          work.path());
  const auto expected = readTree(work.path() / "peer");
  ASSERT_EQ(expected.size(), 6u);
  for (const char* part : {"split-1.cab", "split-3.cab", "split-5.cab"}) {
    SCOPED_TRACE(part);
    TemporaryFolder out;
    const ArchiverResult result = extractCab((corpus / part).string(), out / "out");
    ASSERT_EQ(result.code, 0) << result.output;
    EXPECT_EQ(readTree(out.path() / "out"), expected);
  }
}

TEST(CabSet, MissingPartLeavesOnlyCompleteMembersAndSaysSo) {
  const fs::path corpus = fs::path(PARVO_CORPUS_DIR) / "cab/cabextract";
  if (!fs::exists(corpus / "split-1.cab")) GTEST_SKIP() << "corpus not present";
  TemporaryFolder work;
  runTool({"cabextract", "-q", "-d", work / "peer", (corpus / "split-1.cab").string()},
          work.path());
  const auto complete = readTree(work.path() / "peer");
  fs::create_directories(work.path() / "set");
  for (const char* part : {"split-1.cab", "split-2.cab", "split-4.cab", "split-5.cab"}) {
    fs::copy_file(corpus / part, work.path() / "set" / part);
  }
  const ArchiverResult result = extractCab(work / "set/split-1.cab", work / "out");
  EXPECT_EQ(result.code, 4) << result.output;
  EXPECT_NE(result.output.find("other cabinets"), std::string::npos) << result.output;
  const auto landed = readTree(work.path() / "out");
  EXPECT_FALSE(landed.empty());
  EXPECT_LT(landed.size(), complete.size());
  for (const auto& [path, contents] : landed) EXPECT_EQ(contents, complete.at(path)) << path;
}

}  // namespace
}  // namespace cabtest
