#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include "cab/cabinet_extraction.h"
#include "stored_cabinet.h"
#include "support/archiver_library.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/tree_snapshot.h"
#include "support/watchdog.h"

namespace cabtest {
namespace {

namespace fs = std::filesystem;

// What the reader lands from a cabinet in memory whose set's other parts are siblings there.
Contents readFromMemory(const std::string& cabinet, const fs::path& out,
                        const std::map<std::string, std::string>& siblings = {}) {
  archivers::MemoryArchiveInput input(cabinet, siblings);
  archivers::FollowedCall call(nullptr);
  archivers::ExtractionSink sink(out, call);
  archivers::cab::readCabinet(input, sink);
  sink.finish();
  return filesIn(out);
}

// Hand-made cabinets read from memory: MSZIP blocks that refer back across blocks, as the cabinet
// maker's own tool writes them (gcab's do not), with reserved bytes in every block header; and
// CP932 names whose lead bytes' trail is the byte of '\' (表 95 5C, ソ 83 5C).
TEST(CabExtract, HandMadeCabinetsFromMemory) {
  std::string repeated;
  for (int i = 0; i < 9; ++i) repeated += noise(24 * 1024, 7);
  const std::string after = varyingText(70000), first = noise(1000, 3);
  const struct {
    std::string cabinet;
    Contents expected;
  } cases[] = {
      {handMadeCabinet({{"first.bin", first},
                        {"repeated.bin", repeated},
                        {"dir\\after.txt", after},
                        {"empty", ""}},
                       BlockCoding::kMszip, 20),
       {{"first.bin", first}, {"repeated.bin", repeated}, {"dir/after.txt", after}, {"empty", ""}}},
      {handMadeCabinet({{"\x95\x5c\\\x83\x5c\x83t\x83g.txt", "sjis"},
                        {"utf\\\xe8\xa1\xa8.txt", "flagged", 0xA0}}),
       {{"\xe8\xa1\xa8/\xe3\x82\xbd\xe3\x83\x95\xe3\x83\x88.txt", "sjis"},
        {"utf/\xe8\xa1\xa8.txt", "flagged"}}},
  };
  ASSERT_LT(cases[0].cabinet.size(), 100000u);  // the repeats were found across blocks
  for (const auto& [cabinet, expected] : cases) {
    TemporaryFolder work;
    EXPECT_EQ(readFromMemory(cabinet, work / "out"), expected);
  }
}

// A disk that fills up under libmspack's LZX decoder is a write failure naming its cause and the
// member, never damage. The disk is a tmpfs mounted where only a child of the test sees it.
TEST(CabExtract, FullDiskIsAWriteFailureNamingItsCause) {
  TemporaryFolder work;
  writeFiles(work / "src", {{"big.txt", varyingText(2 << 20)}});
  ASSERT_EQ(packIn(work / "src", kCab, "-a -r -ml:21 \"" + work / "p.cab" + "\" *.*").code, kOk);
  const int status = exitStatusInChild(60, [&] {
    fs::create_directories(work / "disk");
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        mount("tmpfs", (work / "disk").c_str(), "tmpfs", 0, "size=262144") != 0) {
      return 77;
    }
    const ArchiverResult result = extractWith(kCab, work / "p.cab", work / "disk/out");
    return static_cast<int>(result.code == kWriteFailed &&
                            result.output == "cannot write, No space left on device: big.txt");
  });
  if (status == 77) GTEST_SKIP() << "no small file system can be mounted here";
  EXPECT_EQ(status, 1);
}

TEST(CabDamage, DamagedFieldsAreReportedAndOnlyWholeMembersLand) {
  const auto withRange = [](std::string cabinet, std::size_t index, std::uint32_t offset,
                            std::uint32_t size) {
    std::size_t entry = 44;  // past the header and the one folder entry
    while (index-- > 0) entry = cabinet.find('\0', entry + 16) + 1;
    return cabinet.replace(entry, 8, le(size, 4) + le(offset, 4));
  };
  const std::string whole = noise(100000, 5);
  // Members sharing data would let a few KiB of cabinet write the same bytes any number of times.
  const auto overlapping = [&](BlockCoding coding) {
    return withRange(withRange(handMadeCabinet({{"whole.bin", whole},
                                                {"twin.bin", ""},
                                                {"inside.bin", ""},
                                                {"after.txt", "after"}},
                                               coding),
                               1, 0, 100000),
                     2, 99999, 3);
  };
  const Contents overlapLanded = {{"whole.bin", whole}, {"after.txt", "after"}};
  const char* overlap = "overlaps another member's data";
  const struct {
    std::string cabinet;
    std::optional<std::int32_t> code;  // nothing: any failure
    const char* message;
    Contents landed;
  } cases[] = {
      {withRange(handMadeCabinet({{"short.txt", "only a few bytes"}}), 0, 0, 40000), {}, "", {}},
      {overlapping(BlockCoding::kStored), kCorrupt, overlap, overlapLanded},
      {overlapping(BlockCoding::kMszip), kCorrupt, overlap, overlapLanded},
      // Folder data past the end: the zlib decoder's state must be released (the asan run checks).
      {handMadeCabinet({{"a.txt", "some text"}}, BlockCoding::kMszip)
           .replace(36, 4, le(0x0fffffff, 4)),
       kCorrupt,
       "",
       {}},
      {handMadeCabinet({{"a.txt", "some text"}}).replace(42, 1, "\x05"),
       kUnsupported,
       "compression method 5 not supported: a.txt",
       {}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(&test - cases);
    TemporaryFolder work;
    writeFile(work / "damaged.cab", test.cabinet);
    const ArchiverResult result = extractWith(kCab, work / "damaged.cab", work / "out");
    EXPECT_EQ(result.code, test.code.value_or(result.code)) << result.output;
    EXPECT_NE(result.code, kOk);
    EXPECT_NE(result.output.find(test.message), std::string::npos) << result.output;
    expectContents(filesIn(work / "out"), test.landed);
  }
}

// A set's parts come from the input's siblings by name (in memory) or from disk under names in
// another case than the cabinets give, from the first, a middle or the last part. A set missing a
// part lands only the members it holds whole, and says so; so does one with a FIFO where the part
// should be, which would block whoever opens it for reading.
TEST(CabSet, CabinetsAndPartsComeFromTheInputAndItsSiblings) {
  const fs::path corpus = fs::path(PARVO_CORPUS_DIR) / "cab/cabextract";
  if (!fs::exists(corpus / "split-1.cab")) GTEST_SKIP() << "corpus not present";
  TemporaryFolder work;
  runTool({"cabextract", "-q", "-d", work / "peer", (corpus / "split-1.cab").string()},
          work.path());
  const Contents complete = filesIn(work / "peer");
  ASSERT_EQ(complete.size(), 6u);
  std::map<std::string, std::string> parts;  // as the cabinets name them
  for (const std::string number : {"1", "2", "3", "4", "5"}) {
    parts["Split-" + number + ".CAB"] = readFile(corpus / ("split-" + number + ".cab"));
    writeFile(work / ("set/SPLIT-" + number + ".CAB"), parts["Split-" + number + ".CAB"]);
  }
  expectContents(readFromMemory(parts["Split-3.CAB"], work / "memory", parts), complete);
  for (const char* part : {"SPLIT-1.CAB", "SPLIT-3.CAB", "SPLIT-5.CAB"}) {
    SCOPED_TRACE(part);
    fs::remove_all(work / "disk");
    const ArchiverResult result =
        extractWith(kCab, work / ("set/" + std::string(part)), work / "disk");
    ASSERT_EQ(result.code, kOk) << result.output;
    expectContents(filesIn(work / "disk"), complete);
  }
  for (const bool fifo : {false, true}) {
    SCOPED_TRACE(fifo ? "FIFO" : "missing");
    fs::remove(work / "set/SPLIT-3.CAB");
    fs::remove_all(work / "out");
    ASSERT_EQ(fifo ? mkfifo((work / "set/SPLIT-3.CAB").c_str(), 0600) : 0, 0);
    const int status = exitStatusInChild(10, [&] {
      const ArchiverResult result = extractWith(kCab, work / "set/SPLIT-1.CAB", work / "out");
      return result.code == kUnsupported &&
             result.output.find("other cabinets") != std::string::npos;
    });
    EXPECT_EQ(status, 1);
    const Contents landed = filesIn(work / "out");
    EXPECT_FALSE(landed.empty());
    EXPECT_LT(landed.size(), complete.size());
    expectOnlyIntactFiles(work / "out", complete);
  }
}

}  // namespace
}  // namespace cabtest
