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

// Neither leaves a folder behind.
TEST(LzhExtract, RejectsAnEmptyFileOrOneThatIsNoArchive) {
  TemporaryFolder work;
  for (const char* contents : {"", "just some text, no member header in here at all"}) {
    writeFile(work / "plain.lzh", contents);
    const ArchiverResult result = extractWith(kLzh, work / "plain.lzh", work / "out");
    EXPECT_EQ(result.code, kCannotOpen) << result.output;
    EXPECT_FALSE(result.output.empty());
    EXPECT_FALSE(std::filesystem::exists(work / "out")) << contents;
  }
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

TEST(LzhCommandLine, AnswersEachFormClearly) {
  for (const char* line :
       {"x -rxy \"a.lzh\" \"d/\"", "e -rxyz \"a.lzh\" \"d/\"", "a -rx \"out.lzh\" *.txt",
        "a -rxy \"out.lzh\" *.*", "a -rx \"out.lzh\"", "a -rx \"out.lzh\" *.* more",
        "e -rxy \"a.lzh\"", "e \"a.lzh\" \"d/\"", ""}) {
    EXPECT_EQ(callArchiver(kLzh, line).code, kBadCommandLine) << line;
  }
  const ArchiverResult missing = callArchiver(kLzh, "e -rxy \"/nonexistent/a.lzh\" \"/tmp/x/\"");
  EXPECT_EQ(missing.code, kCannotOpen);
  EXPECT_NE(missing.output.find("a.lzh"), std::string::npos) << missing.output;
}

}  // namespace
