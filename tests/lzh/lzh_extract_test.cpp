#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "lzh_test_support.h"

namespace {

std::string randomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator() & 0xFF);
  return bytes;
}

std::string compressibleText(std::size_t lines) {
  std::string text;
  for (std::size_t i = 0; i < lines; ++i) text += "line " + std::to_string(i % 97) + " of text\n";
  return text;
}

class JlhaRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    files_ = {{"top.txt", "hello\n"},
              {"empty.dat", ""},
              {"docs/notes.txt", compressibleText(20000)},
              {"docs/deep/er/random.bin", randomBytes(300000, 7)},
              {"docs/deep/small.txt", "x"}};
    for (const auto& [name, contents] : files_) writeFile(work_.path() / "src" / name, contents);
    const ProcessResult made =
        runJlha((work_.path() / "src").string(), archive(), {"top.txt", "empty.dat", "docs"});
    ASSERT_EQ(made.exitStatus, 0) << made.output;
  }
  std::string archive() const { return work_ / "made.lzh"; }
  std::map<std::string, std::string> expectedTree() const {
    std::map<std::string, std::string> tree = {
        {"docs", "<dir>"}, {"docs/deep", "<dir>"}, {"docs/deep/er", "<dir>"}};
    for (const auto& [name, contents] : files_) tree[name] = contents;
    return tree;
  }

  TemporaryFolder work_;
  std::map<std::string, std::string> files_;
};

TEST_F(JlhaRoundTrip, ExtractsEveryFileAndFolderByteForByte) {
  const ArchiverResult result = extractLzh(archive(), work_ / "out");
  ASSERT_EQ(result.code, 0) << result.output;
  EXPECT_EQ(treeOf(work_.path() / "out"), expectedTree());
}

TEST_F(JlhaRoundTrip, FindsTheArchiveBehindAProgramStub) {
  const std::string stub = "MZ" + randomBytes(40000, 3) + "-lh5- looks like a method -lh0-";
  writeFile(work_.path() / "sfx.exe", stub + readFile(archive()));
  const ArchiverResult result = extractLzh(work_ / "sfx.exe", work_ / "out");
  ASSERT_EQ(result.code, 0) << result.output;
  EXPECT_EQ(treeOf(work_.path() / "out"), expectedTree());
}

TEST_F(JlhaRoundTrip, IgnoresJunkAfterTheEndMarker) {
  writeFile(work_.path() / "junk.lzh", readFile(archive()) + "\x1A\x1A padding from a modem");
  const ArchiverResult result = extractLzh(work_ / "junk.lzh", work_ / "out");
  ASSERT_EQ(result.code, 0) << result.output;
  EXPECT_EQ(treeOf(work_.path() / "out"), expectedTree());
}

TEST(LzhExtract, RejectsAFileThatIsNoArchive) {
  TemporaryFolder work;
  writeFile(work.path() / "plain.lzh", "just some text, no member header in here at all");
  const ArchiverResult result = extractLzh(work / "plain.lzh", work / "out");
  EXPECT_EQ(result.code, 2) << result.output;
  EXPECT_FALSE(result.output.empty());
  EXPECT_EQ(treeOf(work.path() / "out"), (std::map<std::string, std::string>{}));
}

// The same text compressed by every method the corpus has must come out identical.
TEST(LzhExtract, EveryDecoderGivesTheSameText) {
  if (!std::filesystem::exists(corpusArchive("explzh_723/h0_lh5.lzh"))) GTEST_SKIP();
  const std::vector<std::string> archives = {
      "explzh_723/h0_lh5.lzh",     "explzh_723/h1_lh6.lzh",       "explzh_723/h2_lh7.lzh",
      "lha_amiga_122/lh1.lzh",     "lha_amiga_122/lh4.lzh",       "unlha32/h2_lhx.lzh",
      "larc333/lz5_lzs.lzh",       "lharc_atari_313a/h2_lz5.lzh", "lha_unix114i/h2_lh6.lzh",
      "libarchive/lha_header3.lzh"};
  std::string reference;
  for (const std::string& name : archives) {
    if (name == "libarchive/lha_header3.lzh") continue;
    TemporaryFolder out;
    const ArchiverResult result = extractLzh(corpusArchive(name), out / "x");
    ASSERT_EQ(result.code, 0) << name << ": " << result.output;
    const auto tree = treeOf(out.path() / "x");
    ASSERT_EQ(tree.size(), 1u) << name;
    if (reference.empty()) reference = tree.begin()->second;
    EXPECT_EQ(tree.begin()->second, reference) << name;
  }
  EXPECT_EQ(reference.size(), 18092u);
}

TEST(LzhExtract, LevelThreeHeadersFromAnotherWriter) {
  if (!std::filesystem::exists(corpusArchive("libarchive/lha_header3.lzh"))) GTEST_SKIP();
  TemporaryFolder out;
  const ArchiverResult result = extractLzh(corpusArchive("libarchive/lha_header3.lzh"), out / "x");
  ASSERT_EQ(result.code, 0) << result.output;
  const auto tree = treeOf(out.path() / "x");
  EXPECT_TRUE(tree.count("file1") && tree.count("file2"));
}

TEST(LzhCommandLine, AnswersEachFormClearly) {
  EXPECT_EQ(callArchiver("libunlha32.so", "Unlha", "a -rx \"out.lzh\" *.*").code, 4);
  EXPECT_EQ(callArchiver("libunlha32.so", "Unlha", "x -rxy \"a.lzh\" \"d/\"").code, 1);
  EXPECT_EQ(callArchiver("libunlha32.so", "Unlha", "e -rxyz \"a.lzh\" \"d/\"").code, 1);
  EXPECT_EQ(callArchiver("libunlha32.so", "Unlha", "e -rxy \"a.lzh\"").code, 1);
  EXPECT_EQ(callArchiver("libunlha32.so", "Unlha", "e \"a.lzh\" \"d/\"").code, 1);
  EXPECT_EQ(callArchiver("libunlha32.so", "Unlha", "").code, 1);
  const ArchiverResult missing =
      callArchiver("libunlha32.so", "Unlha", "e -rxy \"/nonexistent/a.lzh\" \"/tmp/x/\"");
  EXPECT_EQ(missing.code, 2);
  EXPECT_NE(missing.output.find("a.lzh"), std::string::npos) << missing.output;
}

}  // namespace
