

#include "common/input_file.h"
#include "lzh/lzh_header.h"
#include "lzh/lzh_writer.h"
#include "support/archiver_library.h"
#include "support/sample_files.h"
#include "support/tree_snapshot.h"

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
  ASSERT_EQ(result.code, kLeftOut) << result.output;
  EXPECT_EQ(result.output,
            "1 item was left out of the archive: link to outside the folder: outside link (7 files "
            "and 3 folders packed)");
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
  EXPECT_EQ(std::tuple(read->path, read->originalSize, read->compressedSize, read->crc, read->mtime,
                       read->unixMode),
            std::tuple(entry.path, entry.size, entry.size - 3, 0x1234, kSampleMtime, 0100600u));
}

}  // namespace
