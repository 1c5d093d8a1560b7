#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include "cab/cabinet_extraction.h"
#include "cab/mspack_bridge.h"
#include "stored_cabinet.h"
#include "support/archiver_library.h"
#include "support/peer_tool.h"
#include "support/process.h"
#include "support/sample_files.h"
#include "support/tree_snapshot.h"
#include "support/watchdog.h"

namespace cabtest {
namespace {

namespace fs = std::filesystem;

// Other writers' cabinets, stored, MSZIP, LZX, Quantum, behind other bytes and with reserved
// fields, are held against their sums by the corpus runner; times and modes through our own
// writer's in cab_lzx_test.cpp.

// MSZIP blocks that refer back into the blocks before them, as the cabinet maker's own tool
// writes them (gcab's do not), with reserved bytes in every block header.
TEST(CabExtract, MszipBlocksReferringBackAcrossBlocksAndReservedFields) {
  const std::string chunk = noise(24 * 1024, 7);
  std::string repeated;
  for (int i = 0; i < 9; ++i) repeated += chunk;
  const Contents files = {{"first.bin", noise(1000, 3)},
                          {"repeated.bin", repeated},
                          {"dir/after.txt", varyingText(70000)},
                          {"empty", ""}};
  std::vector<RawMember> members;
  for (const auto& [name, data] : files) {
    members.push_back({name == "dir/after.txt" ? "dir\\after.txt" : name, data});
  }
  TemporaryFolder work;
  const std::string cabinet = handMadeCabinet(members, BlockCoding::kMszip, 20);
  ASSERT_LT(cabinet.size(), 100000u);  // the repeats were found across blocks
  writeFile(work / "made.cab", cabinet);
  const ArchiverResult result = extractWith(kCab, work / "made.cab", work / "out");
  ASSERT_EQ(result.code, kOk) << result.output;
  expectContents(filesIn(work / "out"), files);
}

TEST(CabExtract, DecodesCp932BeforeSplittingOnBackslash) {
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

// Sets the data range of the member at index in a cabinet of handMadeCabinet's.
void setMemberRange(std::string& cabinet, std::size_t index, std::uint32_t offset,
                    std::uint32_t size) {
  std::size_t entry = 44;  // past the header and the one folder entry
  while (index-- > 0) entry = cabinet.find('\0', entry + 16) + 1;
  cabinet.replace(entry, 8, le(size, 4) + le(offset, 4));
}

// A disk that fills up while the decoder writes an LZX folder is a write failure that names its
// cause and the member, never damage, from the library and from the self-extracting program. The
// disks are small file systems mounted in a child of the test, where only it sees them.
TEST(CabExtract, FullDiskIsAWriteFailureNamingItsCause) {
  TemporaryFolder work;
  writeFiles(work / "src", {{"big.txt", varyingText(2 << 20)}});
  ASSERT_EQ(packIn(work / "src", kCab, "-a -r -ml:21 \"" + work / "p.cab" + "\" *.*").code, kOk);
  ASSERT_EQ(
      callArchiver(kCab, "-f \"" + work / "p.cab" + "\" \"" + work.path().string() + "/\"").code,
      kOk);
  const std::string expected = "cannot write, No space left on device: big.txt";
  const int status = exitStatusInChild(60, [&] {
    const auto mountSmall = [&](const fs::path& folder, std::uintmax_t size) {
      fs::create_directories(folder);
      return mount("tmpfs", folder.c_str(), "tmpfs", 0, ("size=" + std::to_string(size)).c_str()) ==
             0;
    };
    const std::uintmax_t programSize = fs::file_size(work / "p.run");
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        !mountSmall(work / "disk", 256 << 10) ||
        !mountSmall(work / "program disk", programSize + (256 << 10))) {
      return 77;
    }
    const ArchiverResult result = extractWith(kCab, work / "p.cab", work / "disk/out");
    if (result.code != kWriteFailed || result.output != expected) return 1;
    fs::copy_file(work / "p.run", work / "program disk/p.run");
    const ProcessResult run = runProcess({work / "program disk/p.run"}, {}, work / "program disk");
    return run.exitStatus == 1 && run.output.find(expected) != std::string::npos ? 0 : 2;
  });
  if (status == 77) GTEST_SKIP() << "no small file system can be mounted here";
  EXPECT_EQ(status, 0) << "1: the library, 2: the program did not report the full disk";
}

// libmspack is C, so no exception may unwind through it: a callback that meets one (no memory,
// here) fails its call and keeps it, and it is thrown once libmspack has returned.
TEST(CabExtract, ExceptionsInLibmspacksCallbacksWaitUntilItReturns) {
  struct FailingInput : archivers::MemoryArchiveInput {
    FailingInput() : MemoryArchiveInput("MSCF") {}
    std::size_t readAt(std::uint64_t, void*, std::size_t) override { throw std::bad_alloc(); }
    std::unique_ptr<ArchiveInput> openSibling(std::string_view) override {
      throw std::length_error("sibling");
    }
  } input;
  archivers::cab::MspackBridge bridge(input);
  mspack_system* system = bridge.system();
  mspack_file* archive =
      system->open(system, archivers::cab::MspackBridge::archiveName(), MSPACK_SYS_OPEN_READ);
  ASSERT_NE(archive, nullptr);
  char byte = 0;
  EXPECT_EQ(system->read(archive, &byte, 1), -1);
  EXPECT_THROW(bridge.takeError(), std::bad_alloc);
  EXPECT_EQ(system->open(system, "next.cab", MSPACK_SYS_OPEN_READ), nullptr);
  EXPECT_THROW(bridge.takeError(), std::length_error);
  EXPECT_FALSE(bridge.takeError());
  system->close(archive);
}

// Hand-made cabinets damaged in one field: what is reported, and the only files that land.
TEST(CabDamage, DamagedFieldsAreReportedAndOnlyWholeMembersLand) {
  const std::string whole = noise(100000, 5);
  const auto overlapping = [&](BlockCoding coding) {
    std::string cabinet = handMadeCabinet(
        {{"whole.bin", whole}, {"twin.bin", ""}, {"inside.bin", ""}, {"after.txt", "after"}},
        coding);
    setMemberRange(cabinet, 1, 0, 100000);
    setMemberRange(cabinet, 2, 99999, 3);
    return cabinet;
  };
  const Contents overlapLanded = {{"whole.bin", whole}, {"after.txt", "after"}};
  const struct {
    const char* label;
    std::function<std::string()> make;
    std::optional<std::int32_t> code;  // nothing: any failure
    const char* message;
    Contents landed;
  } cases[] = {
      {"member longer than its folder",
       [] {
         std::string cabinet = storedCabinet({{"short.txt", "only a few bytes"}});
         setMemberRange(cabinet, 0, 0, 40000);
         return cabinet;
       },
       std::nullopt,
       "",
       {}},
      // Members sharing data would let a few KiB of cabinet write the same bytes any number of
      // times.
      {"overlap, stored", [&] { return overlapping(BlockCoding::kStored); }, kCorrupt,
       "overlaps another member's data", overlapLanded},
      {"overlap, MSZIP", [&] { return overlapping(BlockCoding::kMszip); }, kCorrupt,
       "overlaps another member's data", overlapLanded},
      // The zlib decoder's state must be released (the asan run checks).
      {"folder data past the end",
       [] {
         std::string cabinet = handMadeCabinet({{"a.txt", "some text"}}, BlockCoding::kMszip);
         cabinet.replace(36, 4, le(0x0fffffff, 4));
         return cabinet;
       },
       kCorrupt,
       "",
       {}},
      {"unknown method",
       [] {
         return storedCabinet({{"a.txt", "some text"}}).replace(42, 1, "\x05");
       },
       kUnsupported,
       "compression method 5 not supported: a.txt",
       {}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    TemporaryFolder work;
    writeFile(work / "damaged.cab", test.make());
    const ArchiverResult result = extractWith(kCab, work / "damaged.cab", work / "out");
    EXPECT_EQ(result.code, test.code.value_or(result.code)) << result.output;
    EXPECT_NE(result.code, kOk);
    EXPECT_NE(result.output.find(test.message), std::string::npos) << result.output;
    expectContents(filesIn(work / "out"), test.landed);
  }
}

// A set missing a part lands only the members it holds whole, and says so; so does one with a FIFO
// where the part should be, which would block whoever opens it for reading.
TEST(CabSet, MissingPartLeavesOnlyCompleteMembersAndSaysSo) {
  const fs::path corpus = fs::path(PARVO_CORPUS_DIR) / "cab/cabextract";
  if (!fs::exists(corpus / "split-1.cab")) GTEST_SKIP() << "corpus not present";
  TemporaryFolder work;
  runTool({"cabextract", "-q", "-d", work / "peer", (corpus / "split-1.cab").string()},
          work.path());
  const Contents complete = filesIn(work / "peer");
  ASSERT_EQ(complete.size(), 6u);
  for (const bool fifo : {false, true}) {
    SCOPED_TRACE(fifo ? "FIFO" : "missing");
    fs::remove_all(work / "set");
    fs::remove_all(work / "out");
    fs::create_directories(work / "set");
    for (const char* part : {"split-1.cab", "split-2.cab", "split-4.cab", "split-5.cab"}) {
      fs::copy_file(corpus / part, work.path() / "set" / part);
    }
    if (fifo) {
      ASSERT_EQ(mkfifo((work / "set/split-3.cab").c_str(), 0600), 0);
    }
    const int status = exitStatusInChild(10, [&] {
      const ArchiverResult result = extractWith(kCab, work / "set/split-1.cab", work / "out");
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

// The reader takes every byte from its input: a cabinet in memory, an MSZIP one with reserved
// block fields and a set whose other parts are its siblings by name. On disk, parts are found
// under names in another case than the cabinets give, from the first, a middle or the last part.
// (Single corpus cabinets, LZX and Quantum among them, are held against their sums by the corpus
// runner.)
TEST(CabSet, CabinetsAndPartsComeFromTheInputAndItsSiblings) {
  const fs::path corpus = fs::path(PARVO_CORPUS_DIR) / "cab/cabextract";
  if (!fs::exists(corpus / "split-1.cab")) GTEST_SKIP() << "corpus not present";
  TemporaryFolder work;
  runTool({"cabextract", "-q", "-d", work / "peer", (corpus / "split-1.cab").string()},
          work.path());
  // The parts as the cabinets name them; on disk their names are all upper case.
  std::map<std::string, std::string> parts;
  for (int i = 1; i <= 5; ++i) {
    const std::string number = std::to_string(i);
    parts["Split-" + number + ".CAB"] = readFile(corpus / ("split-" + number + ".cab"));
    writeFile(work / ("set/SPLIT-" + number + ".CAB"), parts["Split-" + number + ".CAB"]);
  }
  const std::string text = varyingText(100000);
  const struct {
    std::string archive;
    std::map<std::string, std::string> siblings;
    Contents expected;
  } cases[] = {
      {handMadeCabinet({{"a.txt", text}, {"b.txt", "b"}}, BlockCoding::kMszip, 20),
       {},
       {{"a.txt", text}, {"b.txt", "b"}}},
      {parts["Split-3.CAB"], parts, filesIn(work / "peer")},
  };
  for (const auto& c : cases) {
    fs::remove_all(work / "out");
    archivers::MemoryArchiveInput input(c.archive, c.siblings);
    archivers::FollowedCall call(nullptr);
    archivers::ExtractionSink sink(work / "out", call);
    archivers::cab::readCabinet(input, sink);
    sink.finish();
    expectContents(filesIn(work / "out"), c.expected);
  }
  // Any part gives the whole set, as the peer extracts it from the first.
  for (const char* part : {"SPLIT-1.CAB", "SPLIT-3.CAB", "SPLIT-5.CAB"}) {
    SCOPED_TRACE(part);
    fs::remove_all(work / "disk");
    const ArchiverResult result =
        extractWith(kCab, work / ("set/" + std::string(part)), work / "disk");
    ASSERT_EQ(result.code, kOk) << result.output;
    expectContents(filesIn(work / "disk"), filesIn(work / "peer"));
  }
}

}  // namespace
}  // namespace cabtest
