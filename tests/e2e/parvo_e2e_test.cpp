// The built program, run as a user runs it: a temporary home, no display, the C locale.

#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/temporary_folder.h"
#include "support/tree_snapshot.h"

namespace {

class ParvoRun : public ::testing::Test {
 protected:
  ProcessResult run(const std::vector<std::string>& argv) const {
    return runProcess(argv, {"HOME=" + home().string(), "PATH=/usr/bin:/bin", "LC_ALL=" + locale_},
                      folder.path().string());
  }
  fs::path home() const { return folder.path() / "home"; }
  fs::path desktop() const { return home() / "Desktop"; }

  std::string makeZip(const std::string& name) {
    writeFile(folder / "src/inside/readme.txt", "hello from inside\n");
    const std::string archive = folder / name;
    runTool({"zip", "-q", "-r", archive, "inside"}, folder / "src");
    return archive;
  }

  TemporaryFolder folder;
  std::string locale_ = "C";
};

// The exit status and what is printed (which error or message a path gets is the core's tests'):
// a run-time error ends the run with status 1 and no later path is processed; a job ending in a
// message makes it end with status 2. --help and --version are options only alone; any other
// argument is a path, a folder named --help included.
TEST_F(ParvoRun, EachRunEndsWithItsStatusAndMessage) {
  writeFile(folder / "--help/notes.txt", "kept\n");
  const std::string later = makeZip("later.zip");
  const struct {
    std::vector<std::string> argv;
    int exitStatus;
    std::string output;  // its start
    bool helpFolderPacked;
  } cases[] = {
      {{kParvo, folder / "missing.zip", later},
       1,
       "PARVO: Run-time error '5':\n\nInvalid procedure call or argument\n",
       false},
      {{kParvo, "--version"}, 0, "parvo 1.02.0013\n", false},
      {{kParvo, "--help"}, 0, "Usage: parvo [PATH]...\n", false},
      {{kParvo, "--help", "extra"}, 1, "PARVO: Run-time error '5':", true},
      {{kParvo, "./--help"}, 0, "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.argv[1] + (c.argv.size() > 2 ? " " + c.argv[2] : ""));
    const auto parvo = run(c.argv);
    EXPECT_EQ(parvo.exitStatus, c.exitStatus) << parvo.output;
    EXPECT_EQ(parvo.output.substr(0, c.output.size()), c.output);
    EXPECT_EQ(fs::exists(desktop() / "--help.run"), c.helpFolderPacked);
    fs::remove(desktop() / "--help.run");
  }
  EXPECT_FALSE(fs::exists(desktop() / "later"));
}

TEST_F(ParvoRun, DroppedZipLandsInADesktopFolderNamedAfterIt) {
  // Names that are not UTF-8 reach the archiver byte for byte.
  for (const auto& [archive, folderName] :
       {std::pair{"My Report.v2.Zip", "My Report"}, std::pair{"caf\xe9.zip", "caf\xe9"}}) {
    const auto parvo = run({kParvo, makeZip(archive)});
    EXPECT_EQ(parvo.exitStatus, 0) << parvo.output;
    EXPECT_EQ(parvo.output, "");
    EXPECT_EQ(readFile(desktop() / folderName / "inside/readme.txt"), "hello from inside\n");
  }
}

// A copy of the program with only the ZIP library beside it: the others are loaded only when a
// job needs them, and one that is missing is a run-time error.
TEST_F(ParvoRun, OnlyTheNeededLibraryMustBePresent) {
  fs::create_directories(folder / "install/bin");
  fs::create_directories(folder / "install/lib");
  fs::copy_file(kParvo, folder / "install/bin/parvo");
  fs::copy_file(std::string(PARVO_LIBRARY_DIR) + "/libunzip32.so",
                folder / "install/lib/libunzip32.so");
  writeFile(folder / "a.lzh", "not needed");
  const auto parvo = run({folder / "install/bin/parvo", makeZip("solo.zip"), folder / "a.lzh"});
  EXPECT_EQ(parvo.exitStatus, 1);
  EXPECT_EQ(parvo.output, "PARVO: Run-time error '48':\n\nError in loading DLL\n");
  EXPECT_TRUE(fs::exists(desktop() / "solo/inside/readme.txt"));
}

// Folders dropped on the built program, packed onto the desktop under each preference and read
// back by Parvo itself. Readers other than Parvo are held against each format in tests/cab and
// tests/lzh.
class ParvoPack : public ParvoRun {
 protected:
  // A folder name near the file system's 255-byte limit, which the names made from it (the
  // archive's, its temporaries', the extraction folder's) must stay within: 日 80 times.
  ParvoPack() {
    locale_ = "C.UTF-8";
    while (name_.size() < 240) name_ += "\xE6\x97\xA5";
    writeFiles(source(), sampleFiles());
    fs::create_directories(source() / "empty folder");
  }

  fs::path source() const { return folder.path() / name_; }

  void prefer(const std::string& code) {
    writeFile(home() / ".config/norrin.ini", "[parvo]\narcdllselect=\"" + code + "\"\n");
  }

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
