#include <sys/stat.h>

#include "support/round_trip.h"
#include "support/sample_files.h"

namespace {

namespace fs = std::filesystem;

// The sample tree plus what TAR adds: an empty folder, a symbolic and a hard link and a path too
// long for the old header, under work/source.
Tree makeSource(const TemporaryFolder& work) {
  const fs::path source = work / "source";
  writeFiles(source, sampleFiles());
  writeFiles(source, {{std::string(120, 'd') + "/" + std::string(60, 'f') + ".txt", "long\n"}});
  fs::create_directories(source / "empty folder");
  fs::create_symlink("a/b/c/deep.txt", source / "link-to-deep");
  fs::create_hard_link(source / "text.txt", source / "hard.txt");
  return snapshot(source);
}

TEST(Tar, ExtractsEveryFormatBehindEveryFilter) {
  TemporaryFolder work;
  const Tree expected = makeSource(work);
  for (const std::string format : {"ustar", "pax", "gnutar"}) {
    for (const std::string filter : {"", "-z", "-j", "-J", "--zstd"}) {
      expectRoundTrip(kTar, work, "bsdtar --format " + format + " " + filter + " -cf ../a.tar .",
                      "a.tar", expected);
    }
  }
  for (const std::string format : {"gnu", "posix"}) {
    expectRoundTrip(kTar, work, "tar --format=" + format + " -czf ../a.tar .", "a.tar", expected);
  }
}

TEST(Tar, FillsTheHolesOfSparseFiles) {
  // A hole, data, a hole, data and a hole running to the end.
  TemporaryFolder work;
  fs::create_directories(work / "source");
  runShell(
      "truncate -s 1M sparse && echo middle >> sparse && truncate -s 3M sparse && "
      "echo end >> sparse && truncate -s 5M sparse",
      work / "source");
  setMtime(work / "source/sparse");
  const Tree expected = snapshot(work / "source");
  for (const char* command :
       {"tar --format=gnu -S -cf ../a.tar sparse", "tar --format=posix -S -cf ../a.tar sparse",
        "bsdtar --format pax -cf ../a.tar sparse"}) {
    expectRoundTrip(kTar, work, command, "a.tar", expected);
  }
}

TEST(Tar, KeepsHolesAsHoles) {
  // 8 TiB of hole in a 10 KiB archive: written out as zeros it would fill the disk.
  TemporaryFolder work;
  writeFile(work / "source/huge", "");
  std::error_code noSparseFiles;
  fs::resize_file(work / "source/huge", std::uint64_t{8} << 40, noSparseFiles);
  if (noSparseFiles) GTEST_SKIP() << "no sparse files here";
  runShell("echo end >> huge && tar --format=gnu -S -cf ../a.tar huge", work / "source");
  const ArchiverResult result = extractWith(kTar, work / "a.tar", work / "out");
  ASSERT_EQ(result.code, kOk) << result.output;
  struct stat status {};
  ASSERT_EQ(stat((work / "out/huge").c_str(), &status), 0);
  EXPECT_EQ(static_cast<std::uint64_t>(status.st_size), (std::uint64_t{8} << 40) + 4);
  EXPECT_LT(status.st_blocks * 512, 1 << 20);
}

TEST(Tar, KeepsNamesThatAreNotUtf8AsTheyStand) {
  TemporaryFolder work;
  writeFile(work / "source/caf\xE9", "latin");
  runTool({"tar", "--format=gnu", "-cf", "../a.tar", "caf\xE9"}, work / "source");
  ASSERT_EQ(extractWith(kTar, work / "a.tar", work / "out").code, kOk);
  EXPECT_EQ(entriesIn(work / "out"), (Contents{{"caf\xE9", "latin"}}));
}

}  // namespace
