// Folders dropped on the built program, packed onto the desktop under each preference and read
// back by Parvo itself. Readers other than Parvo are held against each format in tests/cab and
// tests/lzh.
#include <chrono>
#include <thread>

#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/tree_snapshot.h"

namespace fs = std::filesystem;

namespace {

const std::string kParvo = std::string(PARVO_BINARY_DIR) + "/bin/parvo";

class ParvoPack : public ::testing::Test {
 protected:
  // A folder name near the file system's 255-byte limit, which the names made from it (the
  // archive's, its temporaries', the extraction folder's) must stay within: 日 80 times.
  ParvoPack() {
    while (name_.size() < 240) name_ += "\xE6\x97\xA5";
    writeFiles(source(), sampleFiles());
    fs::create_directories(source() / "empty folder");
  }

  fs::path home() const { return folder.path() / "home"; }
  fs::path desktop() const { return home() / "Desktop"; }
  fs::path source() const { return folder.path() / name_; }

  void prefer(const std::string& code) {
    writeFile(home() / ".config/norrin.ini", "[parvo]\narcdllselect=\"" + code + "\"\n");
  }

  ProcessResult run(const std::vector<std::string>& argv) {
    return runProcess(argv, {"HOME=" + home().string(), "PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8"},
                      desktop().string());
  }

  TemporaryFolder folder;
  std::string name_;
};

// Each preference packs onto the desktop and nothing else lands there or stays in the cache; what
// was packed comes back whole, empty folders included where the archive carries them.
TEST_F(ParvoPack, EachPreferencePacksWhatComesBackWhole) {
  const struct {
    const char* code;  // nullptr: nothing stored, the self-extracting default
    const char* extension;
    bool keepsEmptyFolders;
  } cases[] = {{"cab  ", ".cab", false}, {"lha  ", ".lzh", true}, {nullptr, ".run", true}};
  fs::create_directories(desktop());
  fs::create_directories(home() / ".cache");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extension);
    fs::remove(home() / ".config/norrin.ini");
    if (c.code) prefer(c.code);
    const auto packed = run({kParvo, source()});
    ASSERT_EQ(packed.exitStatus, 0) << packed.output;
    EXPECT_EQ(packed.output, "");
    const fs::path archive = desktop() / (name_ + c.extension);
    EXPECT_EQ(strayNames(desktop(), {}), std::vector<std::string>{archive.filename()});
    EXPECT_EQ(strayNames(home() / ".cache", {}), std::vector<std::string>{});
    // The self-extracting program extracts beside itself.
    const auto extracted = c.code ? run({kParvo, archive}) : run({archive});
    ASSERT_EQ(extracted.exitStatus, 0) << extracted.output;
    expectContents(filesIn(desktop() / name_), filesIn(source()));
    EXPECT_EQ(fs::is_directory(desktop() / name_ / "empty folder"), c.keepsEmptyFolders);
    fs::remove_all(desktop() / name_);
    fs::remove(archive);
  }
}

// The archive is written unnamed: killed at any point, the desktop holds the whole archive or none.
TEST_F(ParvoPack, AKilledRunLeavesACompleteArchiveOrNone) {
  prefer("lha  ");
  writeFile(source() / "large.bin", noise(48 << 20, 3));
  fs::create_directories(desktop());
  for (const int delayMs : {50, 300}) {
    {
      const RunningProgram killedAtTheEnd({kParvo, source()}, {"HOME=" + home().string()},
                                          folder / "parvo.log");
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    }
    for (const std::string& name : strayNames(desktop(), {})) {
      ASSERT_EQ(name, name_ + ".lzh");
      runTool({"lha", "tq", (desktop() / name).string()}, folder.path());
    }
  }
}

}  // namespace
