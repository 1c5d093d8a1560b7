#include "lzh_fixtures.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"

namespace {

// Hand-made fixtures (fixtures/README.md): around a damaged or unusual header, every member that
// can be found lands while what went wrong is reported.
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

// jlha's archive, the first member with a long path: alone, behind a program stub with a fake
// method id, and followed by junk or padding (the end mark, 0x1A, zeros), it extracts whole; cut
// anywhere inside the second header it is damage, named before the path that would push it out of
// the explanation.
TEST(LzhExtract, CutsInsideAHeaderAreDamageAndPaddingIsNot) {
  TemporaryFolder work;
  const std::string first = std::string(200, 'f') + "/" + std::string(200, 'n');
  Contents files = sampleFiles();
  // jlha writes names in a single-byte charset: non-ASCII names are left to the CP932 fixtures.
  std::erase_if(files, [](const auto& item) { return (item.first[0] & 0x80) != 0; });
  std::vector<std::string> command = {"jlha", "c", work / "good.lzh", first, "second.txt"};
  for (const auto& [name, contents] : files) command.push_back(name);
  files.insert({{first, "first member\n"}, {"second.txt", varyingText(99999)}});
  writeFiles(work / "src", files);
  runTool(command, work / "src");
  Tree whole = snapshot(work / "src"), firstOnly = whole;
  whole.at("run.sh").executable = false;  // jlha stores no mode bits
  std::erase_if(firstOnly, [&](const auto& entry) { return !first.starts_with(entry.first); });
  const std::string good = readFile(work / "good.lzh");
  const std::size_t second = good.find("-lh5-") - 2;
  std::vector<std::pair<std::string, bool>> cases = {
      {good, false},
      {"MZ" + noise(40000, 3) + "-lh5- looks like a method -lh0-" + good, false},
      {good + "\x1A\x1A padding from a modem", false},
      {good.substr(0, good.size() - 1) + "\x1A", false},
      {good + std::string(2, 0), false}};
  for (const std::size_t at : {1, 2, 3, 4, 5, 6, 12})
    cases.push_back({good.substr(0, second + at), true});
  for (const auto& [archive, cut] : cases) {
    SCOPED_TRACE(archive.size());
    writeFile(work / "case.lzh", archive);
    std::filesystem::remove_all(work / "out");
    const ArchiverResult result = extractWith(kLzh, work / "case.lzh", work / "out");
    EXPECT_EQ(result.code, cut ? kCorrupt : kOk) << result.output;
    EXPECT_EQ(result.output.find("ends inside a header") != std::string::npos, cut);
    EXPECT_EQ(snapshot(work / "out"), cut ? firstOnly : whole);
  }
}

}  // namespace
