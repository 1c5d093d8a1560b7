#include <sys/stat.h>

#include "lzh_fixtures.h"
#include "support/archiver_library.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/tree_snapshot.h"

namespace {

// jlha's archive alone, behind a program stub with a fake method id, and followed by junk.
TEST(LzhExtract, JlhaArchiveAloneBehindAStubAndBeforeJunk) {
  TemporaryFolder work;
  Contents files = sampleFiles();
  // jlha writes names in a single-byte charset: non-ASCII names are left to the CP932 fixtures.
  std::erase_if(files, [](const auto& item) { return (item.first[0] & 0x80) != 0; });
  writeFiles(work / "src", files);
  std::vector<std::string> command = {"jlha", "c", work / "made.lzh"};
  for (const auto& [name, contents] : files) command.push_back(name);
  runTool(command, work / "src");
  const std::string archive = readFile(work / "made.lzh");
  writeFile(work / "sfx.exe", "MZ" + noise(40000, 3) + "-lh5- looks like a method -lh0-" + archive);
  writeFile(work / "junk.lzh", archive + "\x1A\x1A padding from a modem");

  Tree expected = snapshot(work / "src");
  expected.at("run.sh").executable = false;  // jlha stores no mode bits
  for (const char* name : {"made.lzh", "sfx.exe", "junk.lzh"}) {
    SCOPED_TRACE(name);
    std::filesystem::remove_all(work / "out");
    const ArchiverResult result = extractWith(kLzh, work / name, work / "out");
    ASSERT_EQ(result.code, kOk) << result.output;
    EXPECT_EQ(snapshot(work / "out"), expected);
  }
}

TEST(LzhExtract, LevelThreeKeepsModeAndTime) {
  TemporaryFolder out;
  EXPECT_EQ(extractFixture("level3.lzh", out),
            (Contents{{"bin", "<dir>"}, {"bin/run.sh", "#!/bin/sh\necho level3\n"}}));
  struct stat status {};
  ASSERT_EQ(stat((out / "x/bin/run.sh").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0755u);
  EXPECT_EQ(status.st_mtime, 1592224200);
}

TEST(LzhExtract, WindowsTimestampsInALevelOneChain) {
  TemporaryFolder out;
  EXPECT_EQ(extractFixture("level1_windows.lzh", out), (Contents{{"win.txt", "windows times\n"}}));
  EXPECT_EQ(snapshot(out / "x").at("win.txt").mtime, 1592224200);
}

// Headers that are damaged or unusual: every member that can be found lands, and what went wrong
// is reported.
TEST(LzhExtract, MembersAroundAnOddHeaderAreFound) {
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
      {"bad_header_crc.lzh", kCorrupt, "CRC", {}},
      {"unknown_method.lzh", kUnsupported, "-lh9-", {{"fine.txt", "fine\n"}}},
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

// A MacBinary wrapper is removed only when it describes the member it wraps.
TEST(LzhExtract, MacBinaryWrapperIsRemovedOnlyWhenItMatches) {
  TemporaryFolder out;
  const Contents tree = extractFixture("macbinary.lzh", out);
  ASSERT_EQ(tree.size(), 2u);
  EXPECT_EQ(tree.at("mac.txt"), "data fork\n");
  EXPECT_EQ(tree.at("other.bin").size(), 256u);
}

// jlha's archive of two members cut inside the second one's header: the first lands whole.
TEST(LzhExtract, ArchiveCutInsideAHeaderIsReported) {
  TemporaryFolder work;
  writeFiles(work / "src", {{"first.txt", "first member\n"}, {"second.txt", varyingText(99999)}});
  runTool({"jlha", "c", work / "good.lzh", "first.txt", "second.txt"}, work / "src");
  const std::string bytes = readFile(work / "good.lzh");
  writeFile(work / "cut.lzh", bytes.substr(0, bytes.find("-lh5-") - 2 + 12));
  const ArchiverResult result = extractWith(kLzh, work / "cut.lzh", work / "out");
  EXPECT_EQ(result.code, kCorrupt) << result.output;
  EXPECT_EQ(entriesIn(work / "out"), (Contents{{"first.txt", "first member\n"}}));
}

// The same text compressed by every method the corpus has must come out identical.
TEST(LzhExtract, EveryDecoderGivesTheSameText) {
  if (!std::filesystem::exists(corpusArchive("explzh_723/h0_lh5.lzh"))) GTEST_SKIP();
  std::string reference;
  for (const char* name :
       {"explzh_723/h0_lh5.lzh", "explzh_723/h1_lh6.lzh", "explzh_723/h2_lh7.lzh",
        "lha_amiga_122/lh1.lzh", "lha_amiga_122/lh4.lzh", "unlha32/h2_lhx.lzh",
        "larc333/lz5_lzs.lzh", "lharc_atari_313a/h2_lz5.lzh", "lha_unix114i/h2_lh6.lzh"}) {
    TemporaryFolder out;
    const ArchiverResult result = extractWith(kLzh, corpusArchive(name), out / "x");
    ASSERT_EQ(result.code, kOk) << name << ": " << result.output;
    const Contents files = filesIn(out / "x");
    ASSERT_EQ(files.size(), 1u) << name;
    if (reference.empty()) reference = files.begin()->second;
    EXPECT_EQ(files.begin()->second, reference) << name;
  }
  EXPECT_EQ(reference.size(), 18092u);
}

}  // namespace
