#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cab_packing.h"
#include "support/sample_files.h"

namespace cabtest {
namespace {

namespace fs = std::filesystem;

const std::string kJapaneseName = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt";  // 日本語.txt

// Every reader gives back the same names and bytes: links to files inside the folder as the files
// they point to, nothing of the links to a folder or leading outside, the pipe or the empty folder.
TEST(CabPack, EveryReaderExtractsThePackedTree) {
  TemporaryFolder work;
  const fs::path source = work / "source";
  const std::string big = noise(700000, 5) + varyingText(600000);
  writeFiles(source, {{"nested/deeper/notes.txt", "deep\n"},
                      {"nested/run.sh", "#!/bin/sh\n"},
                      {"empty", ""},
                      {"big.bin", big},
                      {kJapaneseName, "utf-8 named\n"},
                      {".dotfile", "hidden\n"}});
  writeFile(work / "outside.txt", "not to be packed\n");
  fs::create_directories(source / "empty folder");
  fs::create_symlink("nested/deeper/notes.txt", source / "inside link");
  fs::create_symlink("nested", source / "folder link");
  fs::create_symlink("../outside.txt", source / "outside link");
  ASSERT_EQ(mkfifo((source / "pipe").c_str(), 0600), 0);

  const ArchiverResult result = packFolder(source, work / "packed.cab");
  ASSERT_EQ(result.code, kLeftOut) << result.output;

  const Contents expected = {{".dotfile", "hidden\n"},
                             {"big.bin", big},
                             {"empty", ""},
                             {"inside link", "deep\n"},
                             {"nested/deeper/notes.txt", "deep\n"},
                             {"nested/run.sh", "#!/bin/sh\n"},
                             {kJapaneseName, "utf-8 named\n"}};
  expectEveryReaderExtracts(work.path(), work / "packed.cab", expected);
  const Tree tree = snapshot(work / "out-ours");
  EXPECT_TRUE(tree.at("nested/run.sh").executable);
  EXPECT_EQ(tree.at("nested/deeper/notes.txt").mtime, kSampleMtime);
}

// 65,536 files are one too many: the call fails saying so and the cabinet already under the name
// is left as it was. 65,535 fit, and then replace it.
TEST(CabPack, MoreFilesThanACabinetHoldsLeaveTheOldCabinetInPlace) {
  TemporaryFolder work;
  fs::create_directories(work / "many");
  const int folder = open((work / "many").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(folder, 0);
  for (int i = 0; i < 65536; ++i) {
    close(openat(folder, std::to_string(i).c_str(), O_CREAT | O_WRONLY, 0644));
  }
  writeFile(work / "dest/packed.cab", "the old cabinet");

  const ArchiverResult refused = packFolder(work / "many", work / "dest/packed.cab");
  EXPECT_EQ(refused.code, kUnsupported);
  EXPECT_NE(refused.output.find("more than 65,535 files"), std::string::npos) << refused.output;
  EXPECT_EQ(readFile(work / "dest/packed.cab"), "the old cabinet");
  EXPECT_EQ(strayNames(work / "dest", {"packed.cab"}), std::vector<std::string>{});

  ASSERT_EQ(unlinkat(folder, "0", 0), 0);
  close(folder);
  const ArchiverResult packed = packFolder(work / "many", work / "dest/packed.cab");
  ASSERT_EQ(packed.code, kOk) << packed.output;
  EXPECT_EQ(strayNames(work / "dest", {"packed.cab"}), std::vector<std::string>{});
  runShell("cabextract -l dest/packed.cab | grep -c '^ *0 |' > count", work.path());
  EXPECT_EQ(readFile(work / "count"), "65535\n");
}

}  // namespace
}  // namespace cabtest
