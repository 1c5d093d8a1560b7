#include "lzh_fixtures.h"
#include "support/archiver_library.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/tree_snapshot.h"

namespace {

TEST(LzhHostile, ClimbingNamesAreRefusedRootedOnesLandInside) {
  TemporaryFolder work;
  const ArchiverResult result = extractWith(kLzh, lzhFixture("hostile_names.lzh"), work / "out");
  EXPECT_EQ(result.code, kEntriesRefused) << result.output;
  EXPECT_NE(result.output.find("climb.txt"), std::string::npos) << result.output;
  EXPECT_EQ(entriesIn(work / "out"), (Contents{{"rooted.txt", "rooted\n"}, {"ok.txt", "ok\n"}}));
  EXPECT_EQ(strayNames(work.path(), {"out"}), std::vector<std::string>{});
}

TEST(LzhHostile, LinksOutAreRefusedAndNothingIsWrittenThroughThem) {
  TemporaryFolder work;
  const ArchiverResult result = extractWith(kLzh, lzhFixture("symlinks.lzh"), work / "out");
  EXPECT_EQ(result.code, kEntriesRefused) << result.output;
  // The refused link leaves room for a real folder "up"; the write stays inside.
  EXPECT_EQ(entriesIn(work / "out"), (Contents{{"target.txt", "target\n"},
                                               {"inside", "-> target.txt"},
                                               {"up", "<dir>"},
                                               {"up/evil.txt", "through the link\n"}}));
  EXPECT_EQ(strayNames(work.path(), {"out"}), std::vector<std::string>{});
}

TEST(LzhHostile, HeaderCrcMismatchIsCorruption) {
  TemporaryFolder work;
  const ArchiverResult result = extractWith(kLzh, lzhFixture("bad_header_crc.lzh"), work / "out");
  EXPECT_EQ(result.code, kCorrupt) << result.output;
  EXPECT_NE(result.output.find("CRC"), std::string::npos) << result.output;
  EXPECT_EQ(snapshot(work / "out"), Tree{});
}

// A jlha archive of two members, the second damaged: only the first may land, whole.
class LzhDamage : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFiles(work_ / "src",
               {{"first.txt", "first member\n"}, {"second.txt", varyingText(99999)}});
    runTool({"jlha", "c", work_ / "good.lzh", "first.txt", "second.txt"}, work_ / "src");
    bytes_ = readFile(work_ / "good.lzh");
  }
  ArchiverResult extractDamaged(const std::string& damaged) {
    writeFile(work_ / "damaged.lzh", damaged);
    const ArchiverResult result = extractWith(kLzh, work_ / "damaged.lzh", work_ / "out");
    EXPECT_EQ(result.code, kCorrupt) << result.output;
    EXPECT_EQ(entriesIn(work_ / "out"), (Contents{{"first.txt", "first member\n"}}));
    return result;
  }

  TemporaryFolder work_;
  std::string bytes_;
};

TEST_F(LzhDamage, BitFlipInCompressedDataIsACrcError) {
  std::string damaged = bytes_;
  damaged[damaged.size() - 200] = static_cast<char>(damaged[damaged.size() - 200] ^ 0x10);
  const ArchiverResult result = extractDamaged(damaged);
  EXPECT_NE(result.output.find("second.txt"), std::string::npos) << result.output;
}

TEST_F(LzhDamage, TruncatedArchiveIsReportedWithoutAHalfFile) {
  const ArchiverResult result = extractDamaged(bytes_.substr(0, bytes_.size() - 300));
  EXPECT_NE(result.output.find("truncated"), std::string::npos) << result.output;
}

TEST_F(LzhDamage, ArchiveCutInsideAHeaderIsReported) {
  extractDamaged(bytes_.substr(0, bytes_.find("-lh5-") - 2 + 12));
}

}  // namespace
