// Damaged, hostile, encrypted and split archives: a clear error, nothing half-written, nothing
// outside the destination.
#include "arj_test_support.h"

namespace arj_test {
namespace {

// The archive tool's output for a small tree; large.txt (about 200 KiB of varied text) is the
// second member so that damage can be aimed at its data.
struct SampleArchive {
  std::string bytes;
  std::map<std::string, std::string> files;
};

SampleArchive makeSample(const TemporaryFolder& folder, int method) {
  SampleArchive sample;
  std::string large;
  for (int i = 0; large.size() < 200 * 1024; ++i) large += "row " + std::to_string(i * 7919) + "\n";
  sample.files = {{"a.txt", "first\n"}, {"large.txt", large}, {"z.txt", "last\n"}};
  for (const auto& [name, contents] : sample.files)
    writeFile(folder.path() / "tree" / name, contents);
  runArj({"a", "-m" + std::to_string(method), "-y", "../sample.arj", "a.txt", "large.txt", "z.txt"},
         folder / "tree");
  sample.bytes = readFile(folder / "sample.arj");
  return sample;
}

// Every file that landed is complete and right; no temporary file is left behind.
void expectOnlyCompleteFiles(const fs::path& out, const std::map<std::string, std::string>& files) {
  for (const auto& [name, contents] : filesUnder(out)) {
    ASSERT_TRUE(files.count(name)) << "unexpected file " << name;
    EXPECT_TRUE(contents == files.at(name)) << name;
  }
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
    const ArchiverResult result = extract(archive, out);
    EXPECT_NE(result.code, 0) << cut;
    EXPECT_FALSE(result.output.empty());
    // The chain is checked first, so a cut archive writes nothing at all.
    EXPECT_TRUE(filesUnder(out).empty()) << cut;
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
    const ArchiverResult result = extract(folder / "flipped.arj", out);
    EXPECT_EQ(result.code, 3) << offset << ": " << result.output;
    EXPECT_NE(result.output.find("large.txt"), std::string::npos) << result.output;
    auto expected = sample.files;
    expected.erase("large.txt");
    expectFiles(out, expected);
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
    const ArchiverResult result = extract(folder / "flipped.arj", out);
    EXPECT_NE(result.code, 0) << index;
    EXPECT_FALSE(result.output.empty());
    EXPECT_TRUE(filesUnder(out).empty()) << index;
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
  const ArchiverResult result = extract(folder / "longer.arj", folder / "out");
  EXPECT_EQ(result.code, 3) << result.output;
  EXPECT_FALSE(fs::exists(folder / "out/large.txt"));
  expectOnlyCompleteFiles(folder / "out", sample.files);
}

INSTANTIATE_TEST_SUITE_P(StoredToFastest, ArjDamage, ::testing::Values(0, 1, 4));

TEST(ArjHostile, UnsafeNamesAreRefusedAndTheRestExtracted) {
  TemporaryFolder folder;
  const SampleArchive sample = makeSample(folder, 1);
  std::string archive = withName(sample.bytes, 1, "../escape.txt");
  archive = withName(archive, 3, "/tmp/parvo-arj-absolute.txt");
  writeFile(folder / "a/b/hostile.arj", archive);
  const ArchiverResult result = extract(folder / "a/b/hostile.arj", folder / "a/b/out");
  EXPECT_EQ(result.code, 6) << result.output;
  EXPECT_FALSE(fs::exists(folder / "a/b/escape.txt"));
  EXPECT_FALSE(fs::exists("/tmp/parvo-arj-absolute.txt"));
  expectFiles(folder / "a/b/out",
              (std::map<std::string, std::string>{{"large.txt", sample.files.at("large.txt")}}));
}

TEST(ArjHostile, DosSeparatorsCannotClimbEither) {
  TemporaryFolder folder;
  const SampleArchive sample = makeSample(folder, 0);
  writeFile(folder / "a/b/hostile.arj", withName(sample.bytes, 1, "sub\\..\\..\\escape.txt"));
  const ArchiverResult result = extract(folder / "a/b/hostile.arj", folder / "a/b/out");
  EXPECT_EQ(result.code, 6) << result.output;
  EXPECT_FALSE(fs::exists(folder / "a/escape.txt"));
  EXPECT_FALSE(fs::exists(folder / "a/b/escape.txt"));
}

TEST(ArjUnsupported, UnknownMethodIsRefusedAndTheRestExtracted) {
  TemporaryFolder folder;
  const SampleArchive sample = makeSample(folder, 1);
  writeFile(folder / "method.arj",
            withPatchedHeader(sample.bytes, 2, [](std::string& basic) { basic[5] = 7; }));
  const ArchiverResult result = extract(folder / "method.arj", folder / "out");
  EXPECT_EQ(result.code, 6) << result.output;
  EXPECT_NE(result.output.find("large.txt"), std::string::npos) << result.output;
  auto expected = sample.files;
  expected.erase("large.txt");
  expectFiles(folder / "out", expected);
}

TEST(ArjUnsupported, EncryptedArchiveIsRefusedBeforeWriting) {
  TemporaryFolder folder;
  writeFile(folder / "tree/secret.txt", "top secret\n");
  runArj({"a", "-gpassword", "-y", "../locked.arj", "secret.txt"}, folder / "tree");
  const ArchiverResult result = extract(folder / "locked.arj", folder / "out");
  EXPECT_EQ(result.code, 4) << result.output;
  EXPECT_NE(result.output.find("encrypted"), std::string::npos) << result.output;
  EXPECT_FALSE(fs::exists(folder / "out"));
}

TEST(ArjUnsupported, EncryptedMembersAmongPlainOnesAreRefused) {
  TemporaryFolder folder;
  writeFile(folder / "tree/secret.txt", "top secret\n");
  writeFile(folder / "tree/open.txt", "public\n");
  runArj({"a", "-gpassword", "-y", "../mixed.arj", "secret.txt"}, folder / "tree");
  runArj({"a", "-y", "../mixed.arj", "open.txt"}, folder / "tree");
  const ArchiverResult result = extract(folder / "mixed.arj", folder / "out");
  EXPECT_EQ(result.code, 6) << result.output;
  EXPECT_NE(result.output.find("secret.txt"), std::string::npos) << result.output;
  expectFiles(folder / "out", (std::map<std::string, std::string>{{"open.txt", "public\n"}}));
}

TEST(ArjUnsupported, EveryVolumeOfASplitArchiveIsRefused) {
  TemporaryFolder folder;
  writeFile(folder / "tree/big.bin", noise(150 * 1024, 9));
  runArj({"a", "-v50k", "-y", "../split.arj", "big.bin"}, folder / "tree");
  std::vector<fs::path> volumes;
  for (const auto& item : fs::directory_iterator(folder.path())) {
    if (item.is_regular_file()) volumes.push_back(item.path());
  }
  ASSERT_GE(volumes.size(), 3u);
  for (const fs::path& volume : volumes) {
    const ArchiverResult result = extract(volume, folder / "out");
    EXPECT_EQ(result.code, 4) << volume << ": " << result.output;
    EXPECT_NE(result.output.find("multi-volume"), std::string::npos) << result.output;
  }
  EXPECT_FALSE(fs::exists(folder / "out"));
}

}  // namespace
}  // namespace arj_test
