// Archives made by the arj tool, extracted through the library's entry point, and what is ARJ's own
// among damaged ones: the header chain, encryption, split archives.
#include "arj_headers.h"
#include "support/archiver_library.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/tree_snapshot.h"

namespace arj_test {
namespace {

// Every method; tuning the encoder (-jm) must not matter to the decoder.
TEST(ArjExtract, EveryMethodExtractsEveryFileWithModeAndTimeAndEveryFolder) {
  TemporaryFolder folder;
  writeFiles(folder / "tree", sampleFiles());
  fs::create_directories(folder / "tree/no files/inner");  // stored with -a1
  for (const std::string options : {"-m0", "-m1 -jm", "-m2", "-m3", "-m4"}) {
    SCOPED_TRACE(options);
    fs::remove(folder / "test.arj");
    fs::remove_all(folder / "out");
    runShell("arj a " + options + " -a1 -r -y ../test.arj '*'", folder / "tree");
    const ArchiverResult result = extractWith(kArj, folder / "test.arj", folder / "out");
    ASSERT_EQ(result.code, kOk) << result.output;
    EXPECT_EQ(snapshot(folder / "out"), snapshot(folder / "tree"));
  }
}

// A self-extracting program in front, holding a stray header id of plausible size but wrong CRC
// that must not be taken for the archive; the name "dir\表.txt" in CP932, whose trail byte 0x5C is
// a backslash, decoded before it is split.
TEST(ArjExtract, SkipsASelfExtractorInFrontAndDecodesCp932BeforeSeparators) {
  TemporaryFolder folder;
  writeFile(folder / "tree/a.txt", "shift-jis\n");
  runTool({"arj", "a", "-y", "../a.arj", "a.txt"}, folder / "tree");
  const std::string prefix = "MZ" + noise(3000, 1) + "\x60\xEA\x20\x00" + std::string(40, 'x');
  writeFile(folder / "sfx.arj",
            prefix + withName(readFile(folder / "a.arj"), 1, "dir\\\x95\x5C.txt"));
  const ArchiverResult result = extractWith(kArj, folder / "sfx.arj", folder / "out");
  ASSERT_EQ(result.code, kOk) << result.output;
  EXPECT_EQ(filesIn(folder / "out"), (Contents{{"dir/\xE8\xA1\xA8.txt", "shift-jis\n"}}));
}

// Damage aimed at the arj tool's archive of three files in three methods. ARJ headers are found
// only by following the chain: a bit flipped in a header's time, which only its CRC guards, ends it
// there; the main header's damage writes nothing, a member's keeps the members before it. An
// unknown method in large.txt's header is unsupported and named, and the other members land.
TEST(ArjDamage, FlippedHeaderBitEndsTheChainAndUnknownMethodIsUnsupported) {
  const Contents files = {
      {"a.txt", "first\n"}, {"large.txt", varyingText(200 * 1024)}, {"z.txt", "last\n"}};
  for (const int method : {0, 1, 4}) {
    SCOPED_TRACE(method);
    TemporaryFolder folder;
    writeFiles(folder / "tree", files);
    runShell("arj a -m" + std::to_string(method) + " -y ../sample.arj a.txt large.txt z.txt",
             folder / "tree");
    const std::string sample = readFile(folder / "sample.arj");
    const auto flipped = [&](std::size_t index) {
      std::string damaged = sample;
      damaged[headersOf(sample).at(index).start + 12] ^= 0x01;
      return damaged;
    };
    const struct {
      std::string archive;
      std::optional<std::int32_t> code;  // nothing: any failure
      const char* message;
      Contents landed;
    } cases[] = {
        {flipped(0), {}, "", {}},
        {flipped(1), {}, "", {}},
        {flipped(3), {}, "", {{"a.txt", "first\n"}, {"large.txt", files.at("large.txt")}}},
        {withPatchedHeader(sample, 2, [](std::string& basic) { basic[5] = 7; }),
         kUnsupported,
         "compression method 7 not supported: large.txt",
         {{"a.txt", "first\n"}, {"z.txt", "last\n"}}},
    };
    for (const auto& test : cases) {
      SCOPED_TRACE(&test - cases);
      fs::remove_all(folder / "out");
      writeFile(folder / "damaged.arj", test.archive);
      const ArchiverResult result = extractWith(kArj, folder / "damaged.arj", folder / "out");
      EXPECT_EQ(result.code, test.code.value_or(result.code)) << result.output;
      EXPECT_NE(result.code, kOk);
      EXPECT_FALSE(result.output.empty());
      EXPECT_NE(result.output.find(test.message), std::string::npos) << result.output;
      EXPECT_EQ(filesIn(folder / "out"), test.landed);
    }
  }
}

// Encrypted members (with nothing else, refused before anything is written) and every volume of a
// split archive are unsupported and named; the other members of a mixed archive land.
TEST(ArjUnsupported, EncryptedMembersAndSplitArchives) {
  TemporaryFolder folder;
  writeFiles(folder / "tree", {{"secret.txt", "top secret\n"},
                               {"open.txt", "public\n"},
                               {"big.bin", noise(150 * 1024, 9)}});
  runTool({"arj", "a", "-gpassword", "-y", "../locked.arj", "secret.txt"}, folder / "tree");
  runTool({"arj", "a", "-gpassword", "-y", "../mixed.arj", "secret.txt"}, folder / "tree");
  runTool({"arj", "a", "-y", "../mixed.arj", "open.txt"}, folder / "tree");
  runTool({"arj", "a", "-v50k", "-y", "../split.arj", "big.bin"}, folder / "tree");
  const std::pair<const char*, const char*> refusals[] = {
      {"locked.arj", "encrypted"},   {"mixed.arj", "encrypted: secret.txt"},
      {"split.arj", "multi-volume"}, {"split.a01", "multi-volume"},
      {"split.a02", "multi-volume"}, {"split.a03", "multi-volume"}};
  for (const auto& [archive, message] : refusals) {
    const std::string out = folder / archive + ".out";
    const ArchiverResult result = extractWith(kArj, folder / archive, out);
    EXPECT_EQ(result.code, kUnsupported) << archive << ": " << result.output;
    EXPECT_NE(result.output.find(message), std::string::npos) << result.output;
    const bool mixed = std::string_view(archive) == "mixed.arj";
    EXPECT_EQ(fs::exists(out), mixed) << archive;
    EXPECT_EQ(filesIn(out), (mixed ? Contents{{"open.txt", "public\n"}} : Contents{}));
  }
}

}  // namespace
}  // namespace arj_test
