// Archives made by the arj tool, extracted through the library's entry point, and what is ARJ's own
// among damaged ones: the header chain, encryption, split archives.
#include "arj_headers.h"
#include "support/archiver_library.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/tree_snapshot.h"

namespace arj_test {
namespace {

struct Compression {
  int method;
  std::string extraOption;  // tuning the encoder must not matter to the decoder
};

class ArjMethods : public ::testing::TestWithParam<Compression> {};

TEST_P(ArjMethods, ExtractsEveryFileWithModeAndTimeAndEveryFolder) {
  const int method = GetParam().method;
  TemporaryFolder folder;
  writeFiles(folder / "tree", sampleFiles());
  fs::create_directories(folder / "tree/no files/inner");  // stored with -a1
  std::vector<std::string> arguments = {"arj", "a",  "-m" + std::to_string(method),
                                        "-a1", "-r", "-y"};
  if (!GetParam().extraOption.empty()) arguments.push_back(GetParam().extraOption);
  arguments.insert(arguments.end(), {"../test.arj", "*"});
  runTool(arguments, folder / "tree");

  const ArchiverResult result = extractWith(kArj, folder / "test.arj", folder / "out");
  ASSERT_EQ(result.code, kOk) << result.output;
  EXPECT_EQ(snapshot(folder / "out"), snapshot(folder / "tree"));
}

INSTANTIATE_TEST_SUITE_P(StoredToFastest, ArjMethods,
                         ::testing::Values(Compression{0, ""}, Compression{1, "-jm"},
                                           Compression{2, ""}, Compression{3, ""},
                                           Compression{4, ""}));

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

// The arj tool's archive of these files, large.txt its second member so that damage can be aimed
// at its data.
const Contents kSampleFiles = {
    {"a.txt", "first\n"}, {"large.txt", varyingText(200 * 1024)}, {"z.txt", "last\n"}};
const Contents kAllButLarge = {{"a.txt", "first\n"}, {"z.txt", "last\n"}};

std::string makeSample(const TemporaryFolder& folder, int method) {
  writeFiles(folder / "tree", kSampleFiles);
  runTool({"arj", "a", "-m" + std::to_string(method), "-y", "../sample.arj", "a.txt", "large.txt",
           "z.txt"},
          folder / "tree");
  return readFile(folder / "sample.arj");
}

ArchiverResult extractBytes(const TemporaryFolder& folder, const std::string& bytes,
                            const std::string& out = "out") {
  writeFile(folder / "patched.arj", bytes);
  return extractWith(kArj, folder / "patched.arj", folder / out);
}

// ARJ headers are found only by following the chain: a damaged one ends it. The main header's
// damage writes nothing; a member's keeps the members before it. The bit is in the header's time,
// which only its CRC guards.
TEST(ArjDamage, FlippedHeaderBitEndsTheChainThere) {
  TemporaryFolder folder;
  const std::string sample = makeSample(folder, 1);
  const std::vector<std::pair<std::size_t, Contents>> cases = {
      {0, {}}, {1, {}}, {3, {{"a.txt", "first\n"}, {"large.txt", kSampleFiles.at("large.txt")}}}};
  for (const auto& [index, left] : cases) {
    std::string damaged = sample;
    damaged[headersOf(sample).at(index).start + 12] ^= 0x01;
    const std::string out = "out" + std::to_string(index);
    const ArchiverResult result = extractBytes(folder, damaged, out);
    EXPECT_NE(result.code, kOk) << index;
    EXPECT_FALSE(result.output.empty());
    EXPECT_EQ(filesIn(folder / out), left) << index;
  }
}

// large.txt's header patched: one byte more than it holds (the stream ends early, or stored sizes
// disagree) is damage, an unknown method is unsupported; the other members land either way.
TEST(ArjDamage, PatchedSizeIsDamageAndUnknownMethodUnsupported) {
  for (const int method : {0, 1, 4}) {
    SCOPED_TRACE(method);
    TemporaryFolder folder;
    const std::string sample = makeSample(folder, method);
    const ArchiverResult result = extractBytes(
        folder, withPatchedHeader(sample, 2, [](std::string& basic) { basic[5] = 7; }), "unknown");
    EXPECT_EQ(result.code, kUnsupported) << result.output;
    EXPECT_NE(result.output.find("compression method 7 not supported: large.txt"),
              std::string::npos)
        << result.output;
    EXPECT_EQ(filesIn(folder / "unknown"), kAllButLarge);
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
