#include "lzh_fixtures.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"

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

// Fixtures of every header level and name form: level 0 paths with backslashes and folder marks,
// all-caps DOS names lowered, CP932 trail bytes 0x5C that are no separators ("ソ" 83 5C, "表" 95
// 5C), Windows times in a level 1 chain, mode and time in level 3.
TEST(LzhExtract, HeaderLevelsAndNameForms) {
  const std::pair<const char*, Contents> cases[] = {
      {"level0_paths.lzh",
       {{"Docs", "<dir>"},
        {"Docs/Notes", "<dir>"},
        {"Docs/Notes/read.me", "backslash path\n"},
        {"Docs/Other.txt", "folder mark path\n"}}},
      {"level0_allcaps.lzh", {{"readme.txt", "caps\n"}}},
      {"sjis_5c.lzh",
       {{"表", "<dir>"},
        {"表/ソ.txt", "sjis level 1\n"},
        {"ソ", "<dir>"},
        {"ソ/表.txt", "sjis level 2\n"}}},
      {"level1_windows.lzh", {{"win.txt", "windows times\n"}}},
      {"level3.lzh", {{"bin", "<dir>"}, {"bin/run.sh", "#!/bin/sh\necho level3\n"}}},
  };
  TemporaryFolder out;
  for (const auto& [fixture, entries] : cases) {
    std::filesystem::remove_all(out / "x");
    EXPECT_EQ(extractFixture(fixture, out), entries) << fixture;
  }
  EXPECT_EQ(snapshot(out / "x").at("bin/run.sh"),
            (Node{'f', "#!/bin/sh\necho level3\n", true, 1592224200}));
  extractFixture("level1_windows.lzh", out);
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
      {"damaged_method.lzh", kCorrupt, "at offset 35, after: a.txt", firstAndThird},
      {"nameless_member.lzh", kCorrupt, "at offset 35, after: a.txt", firstAndThird},
      {"cut_header.lzh", kCorrupt, "at offset 35, after: a.txt", firstAndThird},
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

}  // namespace
