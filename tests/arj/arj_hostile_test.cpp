// Damaged, hostile, encrypted and split archives: a clear error, nothing half-written, nothing
// outside the destination.
#include "arj_headers.h"
#include "support/archiver_library.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/tree_snapshot.h"

namespace arj_test {
namespace {

namespace fs = std::filesystem;

// The arj tool's output for a small tree; large.txt is the second member so that damage can be
// aimed at its data.
struct SampleArchive {
  std::string bytes;
  Contents files;
  Contents filesBut(const std::string& name) const {
    Contents rest = files;
    rest.erase(name);
    return rest;
  }
};

SampleArchive makeSample(const TemporaryFolder& folder, int method) {
  SampleArchive sample;
  sample.files = {
      {"a.txt", "first\n"}, {"large.txt", varyingText(200 * 1024)}, {"z.txt", "last\n"}};
  writeFiles(folder / "tree", sample.files);
  runTool({"arj", "a", "-m" + std::to_string(method), "-y", "../sample.arj", "a.txt", "large.txt",
           "z.txt"},
          folder / "tree");
  sample.bytes = readFile(folder / "sample.arj");
  return sample;
}

class ArjDamage : public ::testing::TestWithParam<int> {};

TEST_P(ArjDamage, TruncationWritesNothingAndSaysSo) {
  TemporaryFolder folder;
  const SampleArchive sample = makeSample(folder, GetParam());
  const HeaderSpan large = headersOf(sample.bytes).at(2);
  for (const std::size_t cut :
       {std::size_t{10}, large.start + 20, large.dataStart + 1000, sample.bytes.size() - 2}) {
    const fs::path archive = folder / ("cut" + std::to_string(cut) + ".arj");
    const fs::path out = folder / ("out" + std::to_string(cut));
    writeFile(archive, sample.bytes.substr(0, cut));
    const ArchiverResult result = extractWith(kArj, archive, out);
    EXPECT_NE(result.code, kOk) << cut;
    EXPECT_FALSE(result.output.empty());
    // The chain is checked first, so a cut archive writes nothing at all.
    EXPECT_TRUE(filesIn(out).empty()) << cut;
  }
}

TEST_P(ArjDamage, FlippedDataBitLeavesOutOnlyThatFile) {
  TemporaryFolder folder;
  const SampleArchive sample = makeSample(folder, GetParam());
  const HeaderSpan large = headersOf(sample.bytes).at(2);
  for (const std::size_t offset : {std::size_t{0}, std::size_t{large.compressedSize() / 2},
                                   std::size_t{large.compressedSize() - 8}}) {
    std::string damaged = sample.bytes;
    damaged[large.dataStart + offset] ^= 0x10;
    const fs::path out = folder / ("out" + std::to_string(offset));
    writeFile(folder / "flipped.arj", damaged);
    const ArchiverResult result = extractWith(kArj, folder / "flipped.arj", out);
    EXPECT_EQ(result.code, kCorrupt) << offset << ": " << result.output;
    EXPECT_NE(result.output.find("large.txt"), std::string::npos) << result.output;
    EXPECT_EQ(filesIn(out), sample.filesBut("large.txt"));
  }
}

TEST_P(ArjDamage, FlippedHeaderBitWritesNothing) {
  TemporaryFolder folder;
  const SampleArchive sample = makeSample(folder, GetParam());
  // The main header, the first member's and the last member's.
  for (const std::size_t index : {0, 1, 3}) {
    std::string damaged = sample.bytes;
    damaged[headersOf(sample.bytes).at(index).start + 10] ^= 0x01;
    const fs::path out = folder / ("out" + std::to_string(index));
    writeFile(folder / "flipped.arj", damaged);
    const ArchiverResult result = extractWith(kArj, folder / "flipped.arj", out);
    EXPECT_NE(result.code, kOk) << index;
    EXPECT_FALSE(result.output.empty());
    EXPECT_TRUE(filesIn(out).empty()) << index;
  }
}

TEST_P(ArjDamage, SizeThatDisagreesWithTheDataIsCaught) {
  TemporaryFolder folder;
  const SampleArchive sample = makeSample(folder, GetParam());
  // Claim one byte more than large.txt holds: the stream ends early, or stored sizes disagree.
  const std::string patched = withPatchedHeader(sample.bytes, 2, [](std::string& basic) {
    basic[16] = static_cast<char>(static_cast<std::uint8_t>(basic[16]) + 1);
  });
  writeFile(folder / "longer.arj", patched);
  const ArchiverResult result = extractWith(kArj, folder / "longer.arj", folder / "out");
  EXPECT_EQ(result.code, kCorrupt) << result.output;
  expectOnlyIntactFiles(folder / "out", sample.filesBut("large.txt"));
}

INSTANTIATE_TEST_SUITE_P(StoredToFastest, ArjDamage, ::testing::Values(0, 1, 4));

TEST(ArjHostile, UnsafeNamesAreRefusedAndTheRestExtracted) {
  TemporaryFolder folder;
  const SampleArchive sample = makeSample(folder, 1);
  // DOS separators may not climb either.
  for (const char* climbing : {"../escape.txt", "sub\\..\\..\\escape.txt"}) {
    SCOPED_TRACE(climbing);
    const std::string archive =
        withName(withName(sample.bytes, 1, climbing), 3, "/tmp/parvo-arj-absolute.txt");
    writeFile(folder / "a/b/hostile.arj", archive);
    fs::remove_all(folder / "a/b/out");
    const ArchiverResult result = extractWith(kArj, folder / "a/b/hostile.arj", folder / "a/b/out");
    EXPECT_EQ(result.code, kEntriesRefused) << result.output;
    EXPECT_EQ(strayNames(folder / "a", {"b"}), std::vector<std::string>{});
    EXPECT_EQ(strayNames(folder / "a/b", {"hostile.arj", "out"}), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists("/tmp/parvo-arj-absolute.txt"));
    expectContents(filesIn(folder / "a/b/out"), {{"large.txt", sample.files.at("large.txt")}});
  }
}

TEST(ArjUnsupported, UnknownMethodIsUnsupportedAndTheRestExtracted) {
  TemporaryFolder folder;
  const SampleArchive sample = makeSample(folder, 1);
  writeFile(folder / "method.arj",
            withPatchedHeader(sample.bytes, 2, [](std::string& basic) { basic[5] = 7; }));
  const ArchiverResult result = extractWith(kArj, folder / "method.arj", folder / "out");
  EXPECT_EQ(result.code, kUnsupported) << result.output;
  EXPECT_NE(result.output.find("large.txt: compression method 7"), std::string::npos)
      << result.output;
  EXPECT_EQ(filesIn(folder / "out"), sample.filesBut("large.txt"));
}

TEST(ArjUnsupported, EncryptedMembersAreUnsupported) {
  TemporaryFolder folder;
  writeFiles(folder / "tree", {{"secret.txt", "top secret\n"}, {"open.txt", "public\n"}});
  runTool({"arj", "a", "-gpassword", "-y", "../locked.arj", "secret.txt"}, folder / "tree");
  runTool({"arj", "a", "-gpassword", "-y", "../mixed.arj", "secret.txt"}, folder / "tree");
  runTool({"arj", "a", "-y", "../mixed.arj", "open.txt"}, folder / "tree");

  // Nothing but encrypted members: refused before anything is written.
  ArchiverResult result = extractWith(kArj, folder / "locked.arj", folder / "locked");
  EXPECT_EQ(result.code, kUnsupported) << result.output;
  EXPECT_NE(result.output.find("encrypted"), std::string::npos) << result.output;
  EXPECT_FALSE(fs::exists(folder / "locked"));

  result = extractWith(kArj, folder / "mixed.arj", folder / "mixed");
  EXPECT_EQ(result.code, kUnsupported) << result.output;
  EXPECT_NE(result.output.find("secret.txt: encrypted"), std::string::npos) << result.output;
  EXPECT_EQ(filesIn(folder / "mixed"), (Contents{{"open.txt", "public\n"}}));
}

TEST(ArjUnsupported, EveryVolumeOfASplitArchiveIsRefused) {
  TemporaryFolder folder;
  writeFile(folder / "tree/big.bin", noise(150 * 1024, 9));
  runTool({"arj", "a", "-v50k", "-y", "../split.arj", "big.bin"}, folder / "tree");
  std::vector<fs::path> volumes;
  for (const auto& item : fs::directory_iterator(folder.path())) {
    if (item.is_regular_file()) volumes.push_back(item.path());
  }
  ASSERT_GE(volumes.size(), 3u);
  for (const fs::path& volume : volumes) {
    const ArchiverResult result = extractWith(kArj, volume, folder / "out");
    EXPECT_EQ(result.code, kUnsupported) << volume << ": " << result.output;
    EXPECT_NE(result.output.find("multi-volume"), std::string::npos) << result.output;
  }
  EXPECT_FALSE(fs::exists(folder / "out"));
}

}  // namespace
}  // namespace arj_test
