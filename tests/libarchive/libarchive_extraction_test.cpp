// ZIP archives our reader leaves to libarchive, and TAR: what the peer tools write comes out as it
// went in, and what is TAR's own (holes, raw names).

#include "support/archiver_library.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/tree_snapshot.h"

namespace {

TEST(Libarchive, ExtractsWhatEveryPeerToolWrites) {
  // The sample tree plus an empty folder, a symbolic and a hard link and a path too long for the
  // old TAR header.
  TemporaryFolder work;
  const fs::path source = work / "source";
  writeFiles(source, sampleFiles());
  writeFiles(source, {{std::string(120, 'd') + "/" + std::string(60, 'f') + ".txt", "long\n"}});
  fs::create_directories(source / "empty folder");
  fs::create_symlink("a/b/c/deep.txt", source / "link-to-deep");
  fs::create_hard_link(source / "text.txt", source / "hard.txt");
  const Tree expected = snapshot(source);
  // The ZIP archives our reader leaves alone come here with the same sink; those it reads are held
  // against this path in zip_reader_test.cpp, the other methods by the corpus. TAR's decompression
  // filters are libarchive's own; the formats' headers are what we hand on.
  const std::pair<Archiver, std::string> commands[] = {
      {kZip, "zip -q -r -y -Z bzip2"},   {kTar, "bsdtar --format ustar -cf"},
      {kTar, "bsdtar --format pax -cf"}, {kTar, "bsdtar --format gnutar -cf"},
      {kTar, "tar --format=gnu -czf"},   {kTar, "tar --format=posix -czf"}};
  for (const auto& [archiver, command] : commands) {
    SCOPED_TRACE(command);
    fs::remove(work / "a.arc");
    fs::remove_all(work / "out");
    runShell(command + " ../a.arc .", source);
    const ArchiverResult result = extractWith(archiver, work / "a.arc", work / "out");
    EXPECT_EQ(result.code, kOk) << result.output;
    EXPECT_EQ(snapshot(work / "out"), expected);
  }
}

// 8 TiB of hole in a 10 KiB archive: written out as zeros it would fill the disk. A name that is
// not UTF-8 is kept as it stands.
TEST(Tar, KeepsHolesAsHolesAndNamesAsTheyStand) {
  TemporaryFolder work;
  writeFile(work / "source/caf\xE9", "latin");
  writeFile(work / "source/huge", "");
  std::error_code noSparseFiles;
  fs::resize_file(work / "source/huge", std::uint64_t{8} << 40, noSparseFiles);
  if (noSparseFiles) GTEST_SKIP() << "no sparse files here";
  runShell("echo end >> huge && tar --format=gnu -S -cf ../a.tar huge caf*", work / "source");
  const ArchiverResult result = extractWith(kTar, work / "a.tar", work / "out");
  ASSERT_EQ(result.code, kOk) << result.output;
  struct stat status {};
  ASSERT_EQ(stat((work / "out/huge").c_str(), &status), 0);
  EXPECT_EQ(static_cast<std::uint64_t>(status.st_size), (std::uint64_t{8} << 40) + 4);
  EXPECT_LT(status.st_blocks * 512, 1 << 20);
  EXPECT_EQ(readFile(work / "out/caf\xE9"), "latin");
}

}  // namespace
