// ZIP (our reader, libarchive for other methods and encryption) and TAR (libarchive): what the peer
// tools write comes out as it went in, and what is each format's own (ZIP's name encodings,
// encryption and methods; TAR's holes, raw names and the gzip trailer). The contents of GNU and
// pax sparse archives are held against their sums by the corpus runner.
#include <locale.h>
#include <sys/stat.h>

#include "support/archiver_library.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/tree_snapshot.h"

namespace {

namespace fs = std::filesystem;

// Runs command (a shell line that writes ../archive) in work/source, extracts work/archive into a
// fresh work/out and expects exactly the tree `expected` there.
void expectRoundTrip(const Archiver& archiver, const TemporaryFolder& work,
                     const std::string& command, const std::string& archive, const Tree& expected) {
  SCOPED_TRACE(command);
  fs::remove(work / archive);
  fs::remove_all(work / "out");
  runShell(command, work / "source");
  const ArchiverResult result = extractWith(archiver, work / archive, work / "out");
  EXPECT_EQ(result.code, kOk) << result.output;
  EXPECT_EQ(snapshot(work / "out"), expected);
}

// The sample tree plus an empty folder, a symbolic and a hard link and a path too long for the old
// TAR header, under work/source.
Tree makeSource(const TemporaryFolder& work) {
  const fs::path source = work / "source";
  writeFiles(source, sampleFiles());
  writeFiles(source, {{std::string(120, 'd') + "/" + std::string(60, 'f') + ".txt", "long\n"}});
  fs::create_directories(source / "empty folder");
  fs::create_symlink("a/b/c/deep.txt", source / "link-to-deep");
  fs::create_hard_link(source / "text.txt", source / "hard.txt");
  return snapshot(source);
}

TEST(Libarchive, ExtractsWhatEveryPeerToolWrites) {
  TemporaryFolder work;
  const Tree expected = makeSource(work);
  std::vector<std::pair<Archiver, std::string>> commands;
  for (const char* zip :
       {"zip -q -r -y", "zip -q -r -y -0", "zip -q -r -y -Z bzip2", "7zz a -snl -tzip -mm=Deflate",
        "7zz a -snl -tzip -mm=BZip2", "7zz a -snl -tzip -mm=LZMA", "7zz a -snl -tzip -mm=PPMd",
        "7zz a -snl -tzip -mm=Copy", "bsdtar --format zip -cf"}) {
    commands.emplace_back(kZip, zip);
  }
  for (const std::string format : {"ustar", "pax", "gnutar"}) {
    for (const std::string filter : {"", "-z", "-j", "-J", "--zstd"}) {
      commands.emplace_back(kTar, "bsdtar --format " + format + " " + filter + " -cf");
    }
  }
  commands.emplace_back(kTar, "tar --format=gnu -czf");
  commands.emplace_back(kTar, "tar --format=posix -czf");
  for (const auto& [archiver, command] : commands) {
    expectRoundTrip(archiver, work, command + " ../a.arc .", "a.arc", expected);
  }
}

TEST(UnZip, DecodesCp932AndUtf8NamesWhateverTheCallersLocale) {
  // "表示\ソフト.txt" in CP932: the trail bytes of 表 and ソ are 0x5C, a backslash in ASCII.
  TemporaryFolder work;
  runTool({"python3", PARVO_SOURCE_DIR "/tests/libarchive/write_named_zip.py", "names.zip",
           "0:955c8ea65c835c837483672e747874=cp932",
           "1:757466382fe5908de5898d2e747874=utf8"},  // "utf8/名前.txt", flagged UTF-8
          work.path());
  const locale_t before = uselocale(static_cast<locale_t>(0));
  const ArchiverResult result = extractWith(kZip, work / "names.zip", work / "out");
  EXPECT_EQ(uselocale(static_cast<locale_t>(0)), before);
  ASSERT_EQ(result.code, kOk) << result.output;
  EXPECT_EQ(entriesIn(work / "out"), (Contents{{"表示", "<dir>"},
                                               {"表示/ソフト.txt", "cp932"},
                                               {"utf8", "<dir>"},
                                               {"utf8/名前.txt", "utf8"}}));
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

// Damage inside a gzip stream past its first blocks shows only at the trailer, after the members
// landed: the whole archive is still reported as damaged.
TEST(Tar, DamageFoundAtTheGzipTrailerIsCorrupt) {
  TemporaryFolder work;
  writeFiles(work / "source", sampleFiles());
  runShell("tar -czf ../packed.tar .", work / "source");
  std::string flipped = readFile(work / "packed.tar");
  flipped[flipped.size() / 2] = '\xFF';
  writeFile(work / "flipped.tar", flipped);
  const ArchiverResult result = extractWith(kTar, work / "flipped.tar", work / "out");
  EXPECT_EQ(result.code, kCorrupt) << result.output;
}

}  // namespace
