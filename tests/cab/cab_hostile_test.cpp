#include "stored_cabinet.h"
#include "support/archiver_library.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/tree_snapshot.h"

namespace cabtest {
namespace {

namespace fs = std::filesystem;

using Names = std::vector<std::string>;

TEST(CabHostile, RefusesClimbingAndAbsoluteNamesAndExtractsTheRest) {
  TemporaryFolder work;
  writeFile(work / "evil.cab", storedCabinet({{"..\\escaped.txt", "bad"},
                                              {"\\absolute.txt", "bad"},
                                              {"safe\\..\\..\\climb.txt", "bad"},
                                              {"C:\\drive.txt", "bad"},
                                              {"good\\kept.txt", "kept"}}));
  const ArchiverResult result = extractWith(kCab, work / "evil.cab", work / "out");
  EXPECT_EQ(result.code, kEntriesRefused) << result.output;
  EXPECT_FALSE(result.output.empty());
  EXPECT_EQ(strayNames(work.path(), {"out", "evil.cab"}), Names{});
  const Contents landed = filesIn(work / "out");
  EXPECT_EQ(landed.at("good/kept.txt"), "kept");
  for (const auto& [path, contents] : landed) EXPECT_NE(contents, "bad") << path;
}

TEST(CabHostile, DecodesCp932BeforeSplittingOnBackslash) {
  TemporaryFolder work;
  // "表\ソフト.txt" in CP932: both 表 (95 5C) and ソ (83 5C) end in the byte of '\'.
  writeFile(work / "sjis.cab", storedCabinet({{"\x95\x5c\\\x83\x5c\x83t\x83g.txt", "sjis"},
                                              {"utf\\\xe8\xa1\xa8.txt", "flagged", 0xA0}}));
  const ArchiverResult result = extractWith(kCab, work / "sjis.cab", work / "out");
  ASSERT_EQ(result.code, kOk) << result.output;
  EXPECT_EQ(filesIn(work / "out"),
            (Contents{{"\xe8\xa1\xa8/\xe3\x82\xbd\xe3\x83\x95\xe3\x83\x88.txt", "sjis"},
                      {"utf/\xe8\xa1\xa8.txt", "flagged"}}));
}

// An MSZIP cabinet of gcab's whose middle member spans several blocks.
class CabDamage : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFiles(base_ / "src", files_);
    runTool({"gcab", "-c", "-z", base_ / "src.cab", "a/first.txt", "a/big.txt", "z/last.txt"},
            base_ / "src");
    cabinet_ = readFile(base_ / "src.cab");
    ASSERT_GT(cabinet_.size(), 2000u);
  }
  // Whatever lands must be a whole member under its own name, with nothing beside the output.
  ArchiverResult extractDamaged(const std::string& bytes) {
    TemporaryFolder work;
    writeFile(work / "damaged.cab", bytes);
    const ArchiverResult result = extractWith(kCab, work / "damaged.cab", work / "out");
    EXPECT_EQ(strayNames(work.path(), {"out", "damaged.cab"}), Names{});
    expectOnlyIntactFiles(work / "out", files_);
    return result;
  }

  TemporaryFolder base_;
  const Contents files_ = {
      {"a/first.txt", "first member\n"}, {"a/big.txt", varyingText(200000)}, {"z/last.txt", "z"}};
  std::string cabinet_;
};

TEST_F(CabDamage, TruncatedCabinetsFailWithoutHalfFiles) {
  for (std::size_t length = 0; length < cabinet_.size(); length += cabinet_.size() / 37 + 1) {
    SCOPED_TRACE("length " + std::to_string(length));
    const ArchiverResult result = extractDamaged(cabinet_.substr(0, length));
    EXPECT_NE(result.code, kOk);
    EXPECT_FALSE(result.output.empty());
  }
}

TEST_F(CabDamage, FlippedBitsInTheDataAreReportedAsCorrupt) {
  const std::size_t dataStart = 0x100;  // past the header, folder and file entries
  for (std::size_t position = dataStart; position < cabinet_.size();
       position += (cabinet_.size() - dataStart) / 23 + 1) {
    SCOPED_TRACE("byte " + std::to_string(position));
    std::string damaged = cabinet_;
    damaged[position] = static_cast<char>(damaged[position] ^ 0x10);
    EXPECT_EQ(extractDamaged(damaged).code, kCorrupt);
  }
}

// The cabinet with every data block's checksum set to 0, which means "not checked".
std::string withoutChecksums(std::string cabinet) {
  const auto little = [&cabinet](std::size_t at, int bytes) {
    std::size_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
      value = value * 256 + static_cast<unsigned char>(cabinet[at + static_cast<std::size_t>(i)]);
    return value;
  };
  std::size_t block = little(36, 4);  // the one folder's first block (no reserved fields)
  for (std::size_t count = little(40, 2); count > 0; --count) {
    cabinet.replace(block, 4, 4, '\0');
    block += 8 + little(block + 4, 2);
  }
  EXPECT_EQ(block, cabinet.size());
  return cabinet;
}

// Without checksums only the decoder itself can notice damage, here a block of a type that does
// not exist at the start of the first data block.
TEST_F(CabDamage, UncheckedBlocksStillDecodeAndBadDeflateDataIsCorrupt) {
  const std::string unchecked = withoutChecksums(cabinet_);
  EXPECT_EQ(extractDamaged(unchecked).code, kOk);
  std::string damaged = unchecked;
  const std::size_t firstBlock =
      static_cast<unsigned char>(damaged[36]) |
      static_cast<std::size_t>(static_cast<unsigned char>(damaged[37]) << 8);
  ASSERT_EQ(damaged.substr(firstBlock + 8, 2), "CK");
  damaged[firstBlock + 10] = static_cast<char>(damaged[firstBlock + 10] | 0x06);
  const ArchiverResult result = extractDamaged(damaged);
  EXPECT_EQ(result.code, kCorrupt);
  EXPECT_NE(result.output.find("damaged compressed data"), std::string::npos) << result.output;
}

TEST(CabHostile, MemberLongerThanItsFolderIsCorrupt) {
  TemporaryFolder work;
  std::string cabinet = storedCabinet({{"short.txt", "only a few bytes"}});
  // Claim 40000 bytes for the member while the folder holds one block of 16.
  cabinet[44] = static_cast<char>(40000 & 0xFF);
  cabinet[45] = static_cast<char>(40000 >> 8);
  writeFile(work / "long.cab", cabinet);
  const ArchiverResult result = extractWith(kCab, work / "long.cab", work / "out");
  EXPECT_NE(result.code, kOk) << result.output;
  EXPECT_EQ(snapshot(work / "out"), Tree{});
}

// Sets the data range of the member at index in a cabinet of handMadeCabinet's.
void setMemberRange(std::string& cabinet, std::size_t index, std::uint32_t offset,
                    std::uint32_t size) {
  std::size_t entry = 44;  // past the header and the one folder entry
  while (index-- > 0) entry = cabinet.find('\0', entry + 16) + 1;
  std::string range;
  putLittleEndian(range, size, 4);
  putLittleEndian(range, offset, 4);
  cabinet.replace(entry, 8, range);
}

// Members sharing data would let a few KiB of cabinet write the same bytes any number of times.
TEST(CabHostile, MembersOverlappingEarlierDataAreDamage) {
  const std::string whole = noise(100000, 5);
  for (const BlockCoding coding : {BlockCoding::kStored, BlockCoding::kMszip}) {
    SCOPED_TRACE(coding == BlockCoding::kStored ? "stored" : "mszip");
    TemporaryFolder work;
    std::string cabinet = handMadeCabinet(
        {{"whole.bin", whole}, {"twin.bin", ""}, {"inside.bin", ""}, {"after.txt", "after"}},
        coding);
    setMemberRange(cabinet, 1, 0, 100000);
    setMemberRange(cabinet, 2, 99999, 3);
    writeFile(work / "overlap.cab", cabinet);
    const ArchiverResult result = extractWith(kCab, work / "overlap.cab", work / "out");
    EXPECT_EQ(result.code, kCorrupt);
    EXPECT_NE(result.output.find("overlaps another member's data"), std::string::npos)
        << result.output;
    expectContents(filesIn(work / "out"), {{"whole.bin", whole}, {"after.txt", "after"}});
  }
}

// The zlib decoder's state must be released when the folder cannot be read (the asan run checks).
TEST(CabHostile, FolderDataPastTheEndIsCorrupt) {
  TemporaryFolder work;
  std::string cabinet = handMadeCabinet({{"a.txt", "some text"}}, BlockCoding::kMszip);
  cabinet.replace(36, 4, "\xff\xff\xff\x0f");
  writeFile(work / "past.cab", cabinet);
  const ArchiverResult result = extractWith(kCab, work / "past.cab", work / "out");
  EXPECT_EQ(result.code, kCorrupt) << result.output;
  EXPECT_EQ(filesIn(work / "out"), Contents{});
}

TEST(CabHostile, UnknownCompressionMethodIsUnsupported) {
  TemporaryFolder work;
  std::string cabinet = storedCabinet({{"a.txt", "some text"}});
  cabinet[42] = 5;  // the folder's typeCompress
  writeFile(work / "method.cab", cabinet);
  const ArchiverResult result = extractWith(kCab, work / "method.cab", work / "out");
  EXPECT_EQ(result.code, kUnsupported) << result.output;
  EXPECT_NE(result.output.find("a.txt: compression method 5"), std::string::npos) << result.output;
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
    const ArchiverResult result = extractWith(kCab, corpus / name, work / "out");
    EXPECT_NE(result.code, kOk);
    EXPECT_FALSE(result.output.empty());
    EXPECT_EQ(strayNames(work.path(), {"out"}), Names{});
  }
}

}  // namespace
}  // namespace cabtest
