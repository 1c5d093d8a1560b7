#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cab_packing.h"
#include "support/sample_files.h"

namespace cabtest {
namespace {

namespace fs = std::filesystem;

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
