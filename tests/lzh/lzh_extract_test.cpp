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

// Hand-made fixtures (tests/lzh/fixtures/README.md): CP932 trail bytes 0x5C that are no
// separators, Windows times in a level 1 chain, and headers that are damaged or unusual, around
// which every member that can be found lands while what went wrong is reported. Level 0 paths,
// all-caps DOS names, level 3, nameless folders, 64-bit sizes and MacBinary wrappers are in the
// shared corpus.
TEST(LzhExtract, MembersAroundAnOddHeaderAreFound) {
  const Contents firstAndThird = {{"a.txt", "first\n"}, {"c.txt", "third\n"}};
  const struct {
    const char* fixture;
    int32_t code;
    const char* message;
    Contents entries;
  } cases[] = {
      {"sjis_5c.lzh",
       kOk,
       "",
       {{"表", "<dir>"},
        {"表/ソ.txt", "sjis level 1\n"},
        {"ソ", "<dir>"},
        {"ソ/表.txt", "sjis level 2\n"}}},
      {"level1_windows.lzh", kOk, "", {{"win.txt", "windows times\n"}}},
      {"damaged_method.lzh", kCorrupt, "at offset 35, after: a.txt", firstAndThird},
      {"nameless_member.lzh", kCorrupt, "at offset 35, after: a.txt", firstAndThird},
      {"cut_header.lzh", kCorrupt, "at offset 35, after: a.txt", firstAndThird},
      {"bad_header_crc.lzh", kCorrupt, "CRC", {}},
      {"unknown_method.lzh", kUnsupported, "-lh9-", {{"fine.txt", "fine\n"}}},
      {"end_marker_junk.lzh", kOk, "1 file", {{"a.txt", "first\n"}}},
  };
  for (const auto& expected : cases) {
    SCOPED_TRACE(expected.fixture);
    TemporaryFolder work;
    const ArchiverResult result = extractWith(kLzh, lzhFixture(expected.fixture), work / "out");
    EXPECT_EQ(result.code, expected.code) << result.output;
    EXPECT_NE(result.output.find(expected.message), std::string::npos) << result.output;
    EXPECT_EQ(entriesIn(work / "out"), expected.entries);
    if (expected.fixture == std::string("level1_windows.lzh")) {
      EXPECT_EQ(snapshot(work / "out").at("win.txt").mtime, 1592224200);
    }
  }
}

// jlha's archive of two members, the first with a long path. A cut anywhere inside the second
// header is damage, named before the path that would push it out of the explanation; padding after
// the last member (the end mark, 0x1A, zeros) is none.
TEST(LzhExtract, CutsInsideAHeaderAreDamageAndPaddingIsNot) {
  TemporaryFolder work;
  const std::string first = std::string(200, 'f') + "/" + std::string(200, 'n');
  const Contents files = {{first, "first member\n"}, {"second.txt", varyingText(99999)}};
  writeFiles(work / "src", files);
  runTool({"jlha", "c", work / "good.lzh", first, "second.txt"}, work / "src");
  const std::string good = readFile(work / "good.lzh");
  const std::size_t second = good.find("-lh5-") - 2, end = good.size();
  const std::pair<std::size_t, std::string> cases[] = {
      {second + 1, ""},  {second + 2, ""},        {second + 3, ""},  {second + 4, ""},
      {second + 5, ""},  {second + 6, ""},        {second + 12, ""}, {end, ""},
      {end - 1, "\x1A"}, {end, std::string(2, 0)}};
  for (const auto& [length, padding] : cases) {
    writeFile(work / "case.lzh", good.substr(0, length) + padding);
    std::filesystem::remove_all(work / "out");
    const ArchiverResult result = extractWith(kLzh, work / "case.lzh", work / "out");
    const bool cut = length < end - 1;
    EXPECT_EQ(result.code, cut ? kCorrupt : kOk) << length << ": " << result.output;
    EXPECT_EQ(result.output.find("ends inside a header") != std::string::npos, cut) << length;
    EXPECT_EQ(filesIn(work / "out"), cut ? Contents{*files.begin()} : files) << length;
  }
}

}  // namespace
