#include "lzh_fixtures.h"
#include "support/archiver_library.h"
#include "support/tree_snapshot.h"

namespace {

TEST(LzhNames, LevelZeroPathsWithBackslashesAndFolderMarks) {
  TemporaryFolder out;
  EXPECT_EQ(extractFixture("level0_paths.lzh", out),
            (Contents{{"Docs", "<dir>"},
                      {"Docs/Notes", "<dir>"},
                      {"Docs/Notes/read.me", "backslash path\n"},
                      {"Docs/Other.txt", "folder mark path\n"}}));
}

TEST(LzhNames, AllCapsDosNamesAreLowered) {
  TemporaryFolder out;
  EXPECT_EQ(extractFixture("level0_allcaps.lzh", out), (Contents{{"readme.txt", "caps\n"}}));
}

// "ソ" is 83 5C and "表" 95 5C in CP932: decoding must come before splitting at '\'.
TEST(LzhNames, ShiftJisTrailBytesAreNotSeparators) {
  TemporaryFolder out;
  EXPECT_EQ(extractFixture("sjis_5c.lzh", out), (Contents{{"表", "<dir>"},
                                                          {"表/ソ.txt", "sjis level 1\n"},
                                                          {"ソ", "<dir>"},
                                                          {"ソ/表.txt", "sjis level 2\n"}}));
}

TEST(LzhNames, CorpusNamesInShiftJisAndUtf16) {
  if (!std::filesystem::exists(corpusArchive("libarchive/lha_filename_cp932.lzh"))) GTEST_SKIP();
  TemporaryFolder out;
  ASSERT_EQ(extractWith(kLzh, corpusArchive("libarchive/lha_filename_cp932.lzh"), out / "a").code,
            kOk);
  const Contents cp932 = filesIn(out / "a");
  EXPECT_TRUE(cp932.count("漢字.txt") && cp932.count("表.txt"));
  ASSERT_EQ(extractWith(kLzh, corpusArchive("libarchive/lha_filename_utf16.lzh"), out / "b").code,
            kOk);
  const Contents utf16 = filesIn(out / "b");
  EXPECT_TRUE(utf16.count("ÜÖÄüöä/テスト.txt") && utf16.count("テスト/äöüÄÖÜ.txt"));
}

}  // namespace
