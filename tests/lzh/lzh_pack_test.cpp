#include "common/input_file.h"
#include "common/progress.h"
#include "lzh/lzh_header.h"
#include "lzh_fixtures.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"

namespace {

// Every reader lists and extracts every member; the faithful ones keep names and modes; ours keeps
// times and the empty folder too. Header sizes sweep across 256 and 512 bytes (a zero low byte
// reads as the end to some), a name CP932 cannot hold stands beside Japanese ones (some readers
// take one encoding for all names), modes beside 0644 and 0755 (readers default a missing one
// differently).
TEST(LzhPack, EveryReaderListsAndExtractsEveryMemberAsPacked) {
  TemporaryFolder work;
  const fs::path source = work / "source";
  Contents ascii = {{"a.sh", "x"},
                    {"s/k", "k"},
                    {"nested/deeper/notes.txt", "deep\n"},
                    {"empty", ""},
                    {"text.txt", varyingText(400000)},
                    {"random.bin", noise(100000, 9)},
                    {".dotfile", "hidden\n"}};
  for (std::size_t n = 200; n <= 240; ++n) {
    const std::string name = std::to_string(n) + std::string(n - 3, 'x');
    ascii[name] = name;
    ascii[std::string(250, 'd') + "/" + std::to_string(n) + std::string(n - 3, 'y')] = name;
  }
  Contents files = ascii;
  files.insert({{"M\xC3\xBCller", "u"}, {"\xE6\x97\xA5/\xE8\xA1\xA8", "j"}});
  writeFiles(source, files);
  fs::create_directories(source / "empty folder");
  fs::permissions(source / "s", fs::perms::owner_all);
  fs::permissions(source / "s/k", fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_EQ(packIn(source, kLzh, "a -rx \"" + work / "packed.lzh" + "\" *.*").code, kOk);
  archivers::FollowedCall call(nullptr);
  archivers::InputFile input(work / "packed.lzh", call);
  std::map<std::string, std::string> methods;
  while (const auto header = archivers::lzh::readMemberHeader(input)) {
    methods[header->path] = header->method;
    input.seek(header->dataOffset + header->compressedSize);
  }
  EXPECT_EQ(methods.at("random.bin"), "-lh0-");
  EXPECT_EQ(methods.at("text.txt"), "-lh5-");
  EXPECT_EQ(methods.at("empty folder/"), "-lhd-");
  const std::tuple<const char*, const char*, bool> readers[] = {{"7zz l", "7zz x -bso0", false},
                                                                {"lhasa l", "lhasa xq", true},
                                                                {"jlha l", "jlha x", false},
                                                                {"bsdtar -tf", "bsdtar -xpf", true},
                                                                {"lsar", "unar -q -D", true}};
  for (const auto& [list, extract, faithful] : readers) {
    SCOPED_TRACE(extract);
    const fs::path out = work / extract;
    fs::create_directories(out);
    runShell(std::string(list) + " ../packed.lzh >../list && " + extract + " ../packed.lzh", out);
    const std::string listing = readFile(work / "list");
    for (const auto& item : ascii) EXPECT_NE(listing.find(item.first), std::string::npos);
    for (const auto& [name, bytes] : faithful ? files : ascii) {
      EXPECT_TRUE(readFile(out / name) == bytes) << name;
      if (!faithful) continue;
      for (const fs::path& path : {fs::path(name), fs::path(name).parent_path()})
        EXPECT_EQ(fs::status(out / path).permissions(), fs::status(source / path).permissions());
    }
  }
  ASSERT_EQ(extractWith(kLzh, work / "packed.lzh", work / "ours").code, kOk);
  expectContents(entriesIn(work / "ours"), entriesIn(source));
  const Tree tree = snapshot(work / "ours");
  EXPECT_TRUE(tree.at("a.sh").executable);
  EXPECT_EQ(tree.at("nested/deeper/notes.txt").mtime, kSampleMtime);
}

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
