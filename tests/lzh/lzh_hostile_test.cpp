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
  // "up -> .." and "abs -> /etc/passwd"
  EXPECT_NE(result.output.find("skipped 2 unsafe entries"), std::string::npos) << result.output;
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

// Later headers that are damaged or unusual: every member that can be found lands, and damage is
// reported.
TEST(LzhHeaderWalk, MembersAfterAnOddHeaderAreFound) {
  const Contents firstAndThird = {{"a.txt", "first\n"}, {"c.txt", "third\n"}};
  const struct {
    const char* fixture;
    int32_t code;
    const char* message;
    Contents entries;
  } cases[] = {
      {"damaged_method.lzh", kCorrupt, "damaged header at offset 35 after a.txt", firstAndThird},
      {"nameless_member.lzh", kCorrupt, "damaged header at offset 35 after a.txt", firstAndThird},
      {"cut_header.lzh", kCorrupt, "damaged header at offset 35 after a.txt", firstAndThird},
      {"end_marker_junk.lzh", kOk, "1 file", {{"a.txt", "first\n"}}},
      {"nameless_folder.lzh",
       kOk,
       "2 files",
       {{"a.txt", "first\n"}, {"empty", "<dir>"}, {"c.txt", "third\n"}}},
      {"size64.lzh", kOk, "2 files", {{"big1.txt", "level 1\n"}, {"big2.txt", "level 2\n"}}},
  };
  for (const auto& expected : cases) {
    SCOPED_TRACE(expected.fixture);
    TemporaryFolder work;
    const ArchiverResult result = extractWith(kLzh, lzhFixture(expected.fixture), work / "out");
    EXPECT_EQ(result.code, expected.code) << result.output;
    EXPECT_NE(result.output.find(expected.message), std::string::npos) << result.output;
    EXPECT_EQ(entriesIn(work / "out"), expected.entries);
  }
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
