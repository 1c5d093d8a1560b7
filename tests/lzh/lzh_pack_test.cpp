#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/input_file.h"
#include "lzh/lzh_header.h"
#include "lzh/lzh_writer.h"
#include "support/archiver_library.h"
#include "support/sample_files.h"
#include "support/temporary_folder.h"
#include "support/tree_snapshot.h"
#include "support/watchdog.h"

namespace {

namespace fs = std::filesystem;

ArchiverResult packFolder(const fs::path& folder, const std::string& archive) {
  return packIn(folder, kLzh, "a -rx \"" + archive + "\" *.*");
}

std::map<std::string, std::string> methodsIn(const std::string& archive) {
  archivers::InputFile input(archive);
  std::map<std::string, std::string> methods;
  while (const auto header = archivers::lzh::readMemberHeader(input)) {
    methods[header->path] = header->method;
    input.seek(header->dataOffset + header->compressedSize);
  }
  return methods;
}

// The packed tree extracts whole: links inside as what they point to, nothing of the link outside,
// the empty folder as a folder. Names that CP932 cannot hold or whose trail byte is 0x5C, read by
// the peer readers and by Parvo, are in tests/e2e/parvo_pack_test.cpp.
TEST(LzhPack, PackedTreeExtractsWhole) {
  TemporaryFolder work;
  const fs::path source = work / "source";
  writeFiles(source, {{"nested/deeper/notes.txt", "deep\n"},
                      {"nested/run.sh", "#!/bin/sh\n"},
                      {"empty", ""},
                      {"text.txt", varyingText(200000)},  // several -lh5- blocks
                      {"random.bin", noise(100000, 9)},
                      {".dotfile", "hidden\n"}});
  fs::create_directories(source / "empty folder");
  writeFile(work / "outside.txt", "not to be packed\n");
  fs::create_symlink("nested/deeper/notes.txt", source / "inside link");
  fs::create_symlink("../outside.txt", source / "outside link");

  const std::string archive = work / "packed.lzh";
  const ArchiverResult result = packFolder(source, archive);
  ASSERT_EQ(result.code, kOk) << result.output;
  EXPECT_EQ(result.output,
            "7 files and 3 folders packed into packed.lzh; left out: outside link (link to "
            "outside the folder)");
  const auto methods = methodsIn(archive);
  EXPECT_EQ(methods.at("random.bin"), "-lh0-");
  EXPECT_EQ(methods.at("text.txt"), "-lh5-");
  EXPECT_EQ(methods.at("empty folder/"), "-lhd-");

  Contents expected = entriesIn(source);
  expected["inside link"] = "deep\n";
  expected.erase("outside link");
  const ArchiverResult ours = extractWith(kLzh, archive, work / "out-ours");
  ASSERT_EQ(ours.code, kOk) << ours.output;
  expectContents(entriesIn(work / "out-ours"), expected);
  const Tree tree = snapshot(work / "out-ours");
  EXPECT_TRUE(tree.at("nested/run.sh").executable);
  EXPECT_EQ(tree.at("nested/deeper/notes.txt").mtime, kSampleMtime);
}

// The archive is written into the folder being packed, over one packed there before: neither the
// archive under construction nor the old one is packed, and nothing is left beside it.
TEST(LzhPack, ArchiveInsideTheFolderIsNotPackedIntoItself) {
  TemporaryFolder work;
  writeFiles(work / "source", {{"a.txt", "a\n"}, {"b/c.txt", "c\n"}});
  for (int run = 0; run < 2; ++run) {
    const ArchiverResult result = packFolder(work / "source", "packed.lzh");
    ASSERT_EQ(result.code, kOk) << result.output;
    EXPECT_EQ(result.output, "2 files and 1 folder packed into packed.lzh");
  }
  EXPECT_EQ(strayNames(work / "source", {"a.txt", "b", "packed.lzh"}), std::vector<std::string>{});
  ASSERT_EQ(extractWith(kLzh, work / "source/packed.lzh", work / "out").code, kOk);
  expectContents(entriesIn(work / "out"), {{"a.txt", "a\n"}, {"b", "<dir>"}, {"b/c.txt", "c\n"}});
}

// A pack that fails leaves the archive already under the name as it was, and nothing beside it:
// a file or folder that cannot be read (named in the explanation), or a disk that fills up (a
// file size limit, which holds for root too).
TEST(LzhPack, FailingPackLeavesTheOldArchive) {
  const struct {
    const char* name;
    const char* unreadable;  // or the disk fills up
    std::int32_t code;
    const char* output;
  } cases[] = {
      {"unreadable file", "locked.txt", kCannotOpen, "cannot read locked.txt: Permission denied"},
      {"unreadable folder", "locked folder", kCannotOpen,
       "cannot read locked folder: Permission denied"},
      {"disk full", nullptr, kWriteFailed, nullptr},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    if (test.unreadable && geteuid() == 0) continue;  // root reads whatever the mode
    TemporaryFolder work;
    writeFiles(work / "source", {{"a.txt", "a\n"},
                                 {"locked.txt", "x"},
                                 {"locked folder/f", "f"},
                                 {"big.bin", noise(300000, 1)}});
    writeFile(work / "dest/packed.lzh", "the old archive");
    if (test.unreadable) fs::permissions(work.path() / "source" / test.unreadable, fs::perms::none);
    const std::string archive = work / "dest/packed.lzh";
    const int code = exitStatusInChild(60, [&] {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{100000, 100000};
      if (!test.unreadable) setrlimit(RLIMIT_FSIZE, &limit);
      const ArchiverResult result = packFolder(work / "source", archive);
      if (test.output && result.output != test.output) return 100;
      return static_cast<int>(result.code);
    });
    EXPECT_EQ(code, test.code);
    EXPECT_EQ(readFile(work / "dest/packed.lzh"), "the old archive");
    EXPECT_EQ(strayNames(work / "dest", {"packed.lzh"}), std::vector<std::string>{});
  }
}

// Members over 4 GiB keep their 64-bit sizes in extended header 0x42, which the reader honours.
TEST(LzhPack, SizesOver4GiBGoInTheirExtendedHeader) {
  TemporaryFolder work;
  archivers::WalkEntry entry;
  entry.path = "big/huge.bin";
  entry.size = (std::uint64_t{5} << 32) + 7;
  entry.mtime = kSampleMtime;
  entry.mode = 0600;
  archivers::lzh::WrittenHeader header = archivers::lzh::startHeader(entry);
  archivers::lzh::finishHeader(header, "-lh5-", entry.size - 3, entry.size, 0x1234);
  writeFile(work / "header", std::string(header.bytes.begin(), header.bytes.end()));
  archivers::InputFile input(work / "header");
  const auto read = archivers::lzh::readMemberHeader(input);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->path, "big/huge.bin");
  EXPECT_EQ(read->originalSize, entry.size);
  EXPECT_EQ(read->compressedSize, entry.size - 3);
  EXPECT_EQ(read->crc, 0x1234);
  EXPECT_EQ(read->mtime, kSampleMtime);
  EXPECT_EQ(read->unixMode, 0100600u);
}

}  // namespace
