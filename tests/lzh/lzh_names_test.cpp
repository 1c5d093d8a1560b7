#include <gtest/gtest.h>
#include <sys/stat.h>

#include "lzh_test_support.h"

namespace {

using Tree = std::map<std::string, std::string>;

Tree extractFixture(const std::string& name, TemporaryFolder& out, int expectedCode = 0) {
  const ArchiverResult result = extractLzh(lzhFixture(name), out / "x");
  EXPECT_EQ(result.code, expectedCode) << name << ": " << result.output;
  return treeOf(out.path() / "x");
}

TEST(LzhNames, LevelZeroPathsWithBackslashesAndFolderMarks) {
  TemporaryFolder out;
  EXPECT_EQ(extractFixture("level0_paths.lzh", out),
            (Tree{{"Docs", "<dir>"},
                  {"Docs/Notes", "<dir>"},
                  {"Docs/Notes/read.me", "backslash path\n"},
                  {"Docs/Other.txt", "folder mark path\n"}}));
}

TEST(LzhNames, AllCapsDosNamesAreLowered) {
  TemporaryFolder out;
  EXPECT_EQ(extractFixture("level0_allcaps.lzh", out), (Tree{{"readme.txt", "caps\n"}}));
}

// "ソ" is 83 5C and "表" 95 5C in CP932: decoding must come before splitting at '\'.
TEST(LzhNames, ShiftJisTrailBytesAreNotSeparators) {
  TemporaryFolder out;
  EXPECT_EQ(extractFixture("sjis_5c.lzh", out), (Tree{{"表", "<dir>"},
                                                      {"表/ソ.txt", "sjis level 1\n"},
                                                      {"ソ", "<dir>"},
                                                      {"ソ/表.txt", "sjis level 2\n"}}));
}

TEST(LzhNames, CorpusNamesInShiftJisAndUtf16) {
  if (!std::filesystem::exists(corpusArchive("libarchive/lha_filename_cp932.lzh"))) GTEST_SKIP();
  TemporaryFolder out;
  ASSERT_EQ(extractLzh(corpusArchive("libarchive/lha_filename_cp932.lzh"), out / "a").code, 0);
  const Tree cp932 = treeOf(out.path() / "a");
  EXPECT_TRUE(cp932.count("漢字.txt") && cp932.count("表.txt"));
  ASSERT_EQ(extractLzh(corpusArchive("libarchive/lha_filename_utf16.lzh"), out / "b").code, 0);
  const Tree utf16 = treeOf(out.path() / "b");
  EXPECT_TRUE(utf16.count("ÜÖÄüöä/テスト.txt") && utf16.count("テスト/äöüÄÖÜ.txt"));
}

TEST(LzhNames, LevelThreeKeepsModeAndTime) {
  TemporaryFolder out;
  EXPECT_EQ(extractFixture("level3.lzh", out),
            (Tree{{"bin", "<dir>"}, {"bin/run.sh", "#!/bin/sh\necho level3\n"}}));
  struct stat status {};
  ASSERT_EQ(stat((out / "x/bin/run.sh").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0755u);
  EXPECT_EQ(status.st_mtime, 1592224200);
}

TEST(LzhNames, WindowsTimestampsInALevelOneChain) {
  TemporaryFolder out;
  EXPECT_EQ(extractFixture("level1_windows.lzh", out), (Tree{{"win.txt", "windows times\n"}}));
  struct stat status {};
  ASSERT_EQ(stat((out / "x/win.txt").c_str(), &status), 0);
  EXPECT_EQ(status.st_mtime, 1592224200);
}

TEST(LzhNames, MacBinaryWrapperIsRemovedOnlyWhenItMatches) {
  TemporaryFolder out;
  const Tree tree = extractFixture("macbinary.lzh", out);
  ASSERT_EQ(tree.size(), 2u);
  EXPECT_EQ(tree.at("mac.txt"), "data fork\n");
  EXPECT_EQ(tree.at("other.bin").size(), 256u);
}

TEST(LzhNames, UnknownMethodIsReportedAndTheRestExtracted) {
  TemporaryFolder out;
  const ArchiverResult result = extractLzh(lzhFixture("unknown_method.lzh"), out / "x");
  EXPECT_EQ(result.code, 4);
  EXPECT_NE(result.output.find("-lh9-"), std::string::npos) << result.output;
  EXPECT_EQ(treeOf(out.path() / "x"), (Tree{{"fine.txt", "fine\n"}}));
}

}  // namespace
