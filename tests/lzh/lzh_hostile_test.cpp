#include <gtest/gtest.h>

#include "lzh_test_support.h"

namespace {

using Tree = std::map<std::string, std::string>;

TEST(LzhHostile, ClimbingNamesAreRefusedRootedOnesLandInside) {
  TemporaryFolder work;
  const ArchiverResult result = extractLzh(lzhFixture("hostile_names.lzh"), work / "out");
  EXPECT_EQ(result.code, 6) << result.output;
  EXPECT_NE(result.output.find("climb.txt"), std::string::npos) << result.output;
  EXPECT_EQ(treeOf(work.path() / "out"), (Tree{{"rooted.txt", "rooted\n"}, {"ok.txt", "ok\n"}}));
  EXPECT_EQ(treeOf(work.path()).size(), 3u);  // out and its two files, nothing beside it
}

TEST(LzhHostile, LinksOutAreRefusedAndNothingIsWrittenThroughThem) {
  TemporaryFolder work;
  const ArchiverResult result = extractLzh(lzhFixture("symlinks.lzh"), work / "out");
  EXPECT_EQ(result.code, 6) << result.output;
  // The refused link leaves room for a real folder "up"; the write stays inside.
  EXPECT_EQ(treeOf(work.path() / "out"), (Tree{{"target.txt", "target\n"},
                                               {"inside", "-> target.txt"},
                                               {"up", "<dir>"},
                                               {"up/evil.txt", "through the link\n"}}));
  EXPECT_FALSE(std::filesystem::exists(work.path() / "evil.txt"));
}

class LzhDamage : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string text;
    for (int i = 0; i < 5000; ++i)
      text += "a line that compresses well " + std::to_string(i) + "\n";
    writeFile(work_.path() / "src/first.txt", "first member\n");
    writeFile(work_.path() / "src/second.txt", text);
    const ProcessResult made =
        runJlha((work_.path() / "src").string(), work_ / "good.lzh", {"first.txt", "second.txt"});
    ASSERT_EQ(made.exitStatus, 0) << made.output;
    bytes_ = readFile(work_.path() / "good.lzh");
  }
  // Nothing may stay under the damaged member's name, nor any temporary file.
  void expectOnlyFirstMember() {
    EXPECT_EQ(treeOf(work_.path() / "out"), (Tree{{"first.txt", "first member\n"}}));
  }

  TemporaryFolder work_;
  std::string bytes_;
};

TEST_F(LzhDamage, BitFlipInCompressedDataIsACrcError) {
  std::string damaged = bytes_;
  damaged[damaged.size() - 200] = static_cast<char>(damaged[damaged.size() - 200] ^ 0x10);
  writeFile(work_.path() / "flipped.lzh", damaged);
  const ArchiverResult result = extractLzh(work_ / "flipped.lzh", work_ / "out");
  EXPECT_EQ(result.code, 3) << result.output;
  EXPECT_NE(result.output.find("second.txt"), std::string::npos) << result.output;
  expectOnlyFirstMember();
}

TEST_F(LzhDamage, TruncatedArchiveIsReportedWithoutAHalfFile) {
  writeFile(work_.path() / "cut.lzh", bytes_.substr(0, bytes_.size() - 300));
  const ArchiverResult result = extractLzh(work_ / "cut.lzh", work_ / "out");
  EXPECT_EQ(result.code, 3) << result.output;
  EXPECT_NE(result.output.find("truncated"), std::string::npos) << result.output;
  expectOnlyFirstMember();
}

TEST_F(LzhDamage, ArchiveCutInsideAHeaderIsReported) {
  const std::size_t second = bytes_.find("-lh5-") - 2;
  writeFile(work_.path() / "cut.lzh", bytes_.substr(0, second + 12));
  const ArchiverResult result = extractLzh(work_ / "cut.lzh", work_ / "out");
  EXPECT_EQ(result.code, 3) << result.output;
  expectOnlyFirstMember();
}

TEST(LzhHostileHeaders, HeaderCrcMismatchIsCorruption) {
  TemporaryFolder work;
  const ArchiverResult result = extractLzh(lzhFixture("bad_header_crc.lzh"), work / "out");
  EXPECT_EQ(result.code, 3) << result.output;
  EXPECT_NE(result.output.find("CRC"), std::string::npos) << result.output;
  EXPECT_EQ(treeOf(work.path() / "out"), Tree{});
}

TEST(LzhHostileHeaders, CorpusTruncatedArchiveIsAnError) {
  if (!std::filesystem::exists(corpusArchive("regression/truncated.lzh"))) GTEST_SKIP();
  TemporaryFolder work;
  const ArchiverResult result = extractLzh(corpusArchive("regression/truncated.lzh"), work / "out");
  EXPECT_EQ(result.code, 3) << result.output;
  EXPECT_EQ(treeOf(work.path() / "out"), Tree{});
}

}  // namespace
