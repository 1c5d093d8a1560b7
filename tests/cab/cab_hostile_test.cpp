#include "cab_test_support.h"

namespace cabtest {
namespace {

// Nothing but the destination (and the archive) may appear in the work folder.
void expectOnlyInside(const TemporaryFolder& work, const std::string& archive) {
  for (const auto& entry : fs::directory_iterator(work.path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "out" || name == archive || name == "src") << "written outside: " << name;
  }
}

TEST(CabHostile, RefusesClimbingAndAbsoluteNamesAndExtractsTheRest) {
  TemporaryFolder work;
  writeFile(work.path() / "evil.cab", storedCabinet({{"..\\escaped.txt", "bad"},
                                                     {"\\absolute.txt", "bad"},
                                                     {"safe\\..\\..\\climb.txt", "bad"},
                                                     {"C:\\drive.txt", "bad"},
                                                     {"good\\kept.txt", "kept"}}));
  const ArchiverResult result = extractCab(work / "evil.cab", work / "out");
  EXPECT_EQ(result.code, 6) << result.output;
  EXPECT_FALSE(result.output.empty());
  expectOnlyInside(work, "evil.cab");
  const auto landed = readTree(work.path() / "out");
  EXPECT_EQ(landed.at("good/kept.txt"), "kept");
  for (const auto& [path, contents] : landed) EXPECT_NE(contents, "bad") << path;
}

TEST(CabHostile, DecodesCp932BeforeSplittingOnBackslash) {
  TemporaryFolder work;
  // "表\ソフト.txt" in CP932: both 表 (95 5C) and ソ (83 5C) end in the byte of '\'.
  writeFile(work.path() / "sjis.cab", storedCabinet({{"\x95\x5c\\\x83\x5c\x83t\x83g.txt", "sjis"},
                                                     {"utf\\\xe8\xa1\xa8.txt", "flagged", 0xA0}}));
  const ArchiverResult result = extractCab(work / "sjis.cab", work / "out");
  ASSERT_EQ(result.code, 0) << result.output;
  const std::map<std::string, std::string> expected = {
      {"\xe8\xa1\xa8/\xe3\x82\xbd\xe3\x83\x95\xe3\x83\x88.txt", "sjis"},
      {"utf/\xe8\xa1\xa8.txt", "flagged"}};
  EXPECT_EQ(readTree(work.path() / "out"), expected);
}

std::string gcabCabinet(const TemporaryFolder& work, std::map<std::string, std::string>& tree) {
  std::string text;
  for (int line = 0; line < 12000; ++line) text += "row " + std::to_string(line * 7919) + "\n";
  tree = {{"a/first.txt", "first member\n"}, {"a/big.txt", text}, {"z/last.txt", "last\n"}};
  std::vector<std::string> command = {"gcab", "-c", "-z", work / "src.cab"};
  for (const auto& [path, contents] : tree) {
    writeFile(work.path() / "src" / path, contents);
    command.push_back(path);
  }
  runTool(command, work.path() / "src");
  return readFile(work.path() / "src.cab");
}

// Whatever landed must be a complete, correct member under its own name: no partial file, no
// temporary left behind.
void expectOnlyCompleteMembers(const TemporaryFolder& work,
                               const std::map<std::string, std::string>& tree) {
  if (!fs::exists(work.path() / "out")) return;
  for (const auto& [path, contents] : readTree(work.path() / "out")) {
    const auto source = tree.find(path);
    ASSERT_NE(source, tree.end()) << "unexpected file " << path;
    EXPECT_EQ(contents, source->second) << "partial or wrong " << path;
  }
}

TEST(CabHostile, TruncatedCabinetsFailWithoutHalfFiles) {
  TemporaryFolder base;
  std::map<std::string, std::string> tree;
  const std::string cabinet = gcabCabinet(base, tree);
  ASSERT_GT(cabinet.size(), 2000u);
  for (std::size_t length = 0; length < cabinet.size(); length += cabinet.size() / 37 + 1) {
    SCOPED_TRACE("length " + std::to_string(length));
    TemporaryFolder work;
    writeFile(work.path() / "cut.cab", cabinet.substr(0, length));
    const ArchiverResult result = extractCab(work / "cut.cab", work / "out");
    EXPECT_NE(result.code, 0);
    EXPECT_FALSE(result.output.empty());
    expectOnlyInside(work, "cut.cab");
    expectOnlyCompleteMembers(work, tree);
  }
}

TEST(CabHostile, FlippedBitsInTheDataAreReportedAsCorrupt) {
  TemporaryFolder base;
  std::map<std::string, std::string> tree;
  const std::string cabinet = gcabCabinet(base, tree);
  const std::size_t dataStart = 0x100;  // past the header, folder and file entries
  for (std::size_t position = dataStart; position < cabinet.size();
       position += (cabinet.size() - dataStart) / 23 + 1) {
    SCOPED_TRACE("byte " + std::to_string(position));
    TemporaryFolder work;
    std::string damaged = cabinet;
    damaged[position] = static_cast<char>(damaged[position] ^ 0x10);
    writeFile(work.path() / "flip.cab", damaged);
    const ArchiverResult result = extractCab(work / "flip.cab", work / "out");
    EXPECT_EQ(result.code, 3) << result.output;
    expectOnlyCompleteMembers(work, tree);
  }
}

TEST(CabHostile, MemberLongerThanItsFolderIsCorrupt) {
  TemporaryFolder work;
  std::string cabinet = storedCabinet({{"short.txt", "only a few bytes"}});
  // Claim 40000 bytes for the member while the folder holds one block of 16.
  cabinet[44] = static_cast<char>(40000 & 0xFF);
  cabinet[45] = static_cast<char>(40000 >> 8);
  writeFile(work.path() / "long.cab", cabinet);
  const ArchiverResult result = extractCab(work / "long.cab", work / "out");
  EXPECT_NE(result.code, 0) << result.output;
  EXPECT_TRUE(!fs::exists(work.path() / "out") || listEverything(work.path() / "out").empty());
}

TEST(CabHostile, CorpusReproducersNeitherCrashNorEscape) {
  const fs::path corpus = PARVO_CORPUS_DIR;
  if (!fs::exists(corpus / "MANIFEST.tsv")) GTEST_SKIP() << "corpus not present";
  for (const char* name :
       {"cab/cabextract/cve-2010-2800-mszip-infinite-loop.cab",
        "cab/cabextract/cve-2014-9556-qtm-infinite-loop.cab",
        "cab/cabextract/cve-2015-4471-lzx-under-read.cab", "cab/cabextract/qtm-max-size-block.cab",
        "cab/libarchive/cab_lzx_oob.cab", "cab/mspack/cve-2017-11423-fname-overread.cab",
        "cab/mspack/partial_nodata.cab"}) {
    SCOPED_TRACE(name);
    TemporaryFolder work;
    const ArchiverResult result = extractCab((corpus / name).string(), work / "out");
    EXPECT_NE(result.code, 0);
    EXPECT_FALSE(result.output.empty());
    expectOnlyInside(work, "");
  }
}

}  // namespace
}  // namespace cabtest
