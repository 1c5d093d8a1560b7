#include <sys/stat.h>
#include <unistd.h>

#include "support/archiver_library.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/tree_snapshot.h"

namespace cabtest {
namespace {

namespace fs = std::filesystem;

ArchiverResult makeProgram(const fs::path& cabinet, const fs::path& folder) {
  return callArchiver(kCab, "-f \"" + cabinet.string() + "\" \"" + folder.string() + "/\"");
}

class CabSfx : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFiles(work_ / "source", {{"nested/deeper/notes.txt", "deep\n"},
                                  {"nested/run.sh", "#!/bin/sh\n"},
                                  {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", "utf-8 named\n"},
                                  {"data.bin", noise(200000, 3)}});
    // Folders a cabinet cannot hold: the program carries them, nested ones and times included.
    fs::create_directories(work_ / "source/void/inner");
    fs::create_directories(work_ / "source/nested/hollow");
    setMtime(work_ / "source/void/inner", kSampleMtime);
    fs::create_directories(work_ / "tmp");
    fs::create_directories(desktop_);
    const ArchiverResult packed =
        packIn(work_ / "source", kCab, "-a -r -ml:21 \"" + work_ / "tmp/X.cab" + "\" *.*");
    ASSERT_EQ(packed.code, kOk) << packed.output;
    ASSERT_EQ(makeProgram(work_ / "tmp/X.cab", desktop_).code, kOk);
  }

  // In work_ (not the program's folder), which is also home, with a plain environment.
  ProcessResult runProgram(const std::vector<std::string>& argv) {
    std::vector<std::string> environment = {"PATH=/usr/bin:/bin", "LC_ALL=C",
                                            "HOME=" + work_.path().string()};
    if (const char* zone = std::getenv("TZ")) environment.push_back(std::string("TZ=") + zone);
    return runProcess(argv, environment, work_.path().string());
  }

  TemporaryFolder work_;
  const fs::path desktop_ = work_ / "desktop";
  const fs::path program_ = desktop_ / "X.run";
};

TEST_F(CabSfx, ProgramIsStaticAndExtractsBesideItselfOnlyOnce) {
  struct stat status {};
  ASSERT_EQ(stat(program_.c_str(), &status), 0);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(status.st_mode & 0777, 0755 & ~mask);
  const std::string type =
      runProcess({"/usr/bin/file", "-b", "-L", program_.string()}, {"LC_ALL=C"}).output;
  EXPECT_NE(type.find("statically linked"), std::string::npos) << type;

  const Tree source = snapshot(work_ / "source");
  ProcessResult run = runProgram({program_});
  ASSERT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_EQ(run.output,
            "X.run: 4 files and 3 folders extracted into " + (desktop_ / "X").string() + "\n");
  EXPECT_EQ(snapshot(desktop_ / "X"), source);
  ASSERT_EQ(stat((desktop_ / "X/void/inner").c_str(), &status), 0);
  EXPECT_EQ(status.st_mtime, kSampleMtime);

  // A second run touches nothing, not even files it would not replace.
  writeFile(desktop_ / "X/data.bin", "changed");
  fs::remove(desktop_ / "X/nested/run.sh");
  run = runProgram({program_});
  EXPECT_NE(run.exitStatus, 0);
  EXPECT_NE(run.output.find("already exists; nothing was extracted"), std::string::npos)
      << run.output;
  EXPECT_EQ(readFile(desktop_ / "X/data.bin"), "changed");
  EXPECT_FALSE(fs::exists(desktop_ / "X/nested/run.sh"));

  run = runProgram({program_, "--overwrite"});
  ASSERT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_EQ(snapshot(desktop_ / "X"), source);
  EXPECT_EQ(readFile(work_.path() / ".local/share/Trash/files/data.bin"), "changed");
  EXPECT_EQ(strayNames(desktop_, {"X.run", "X"}), std::vector<std::string>{});
}

TEST_F(CabSfx, ListsExtractsElsewhereAndOtherReadersFindTheCabinet) {
  const ProcessResult list = runProgram({program_, "--list"});
  ASSERT_EQ(list.exitStatus, 0) << list.output;
  for (const char* line :
       {"      200000  data.bin\n", "  \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt\n",
        "              void/inner/\n", "4 files and 3 folders, 200027 bytes\n"}) {
    EXPECT_NE(list.output.find(line), std::string::npos) << line << " in\n" << list.output;
  }
  EXPECT_FALSE(fs::exists(desktop_ / "X"));

  const Contents expected = filesIn(work_ / "source");
  fs::create_directories(work_ / "out/cabextract");
  runTool({"cabextract", "-q", program_.string(), "-d", work_ / "out/cabextract"}, work_.path());
  expectContents(filesIn(work_ / "out/cabextract"), expected);
  EXPECT_EQ(extractWith(kCab, program_, work_ / "out/own").code, kOk);
  expectContents(filesIn(work_ / "out/own"), expected);

  EXPECT_EQ(runProgram({program_, "--bogus"}).exitStatus, 2);
}

// A --dest the user names is followed when it is a link, as tar -C follows one; the folder beside
// the program is not, and a link standing at a packed name, even one leading nowhere, stops the
// extraction without --overwrite and is left as it was.
TEST_F(CabSfx, LinksAtTheDestination) {
  fs::create_directories(work_ / "downloads");
  fs::create_directory_symlink("downloads", work_ / "link");
  ProcessResult run = runProgram({program_, "--dest", "link"});
  ASSERT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_EQ(snapshot(work_ / "downloads"), snapshot(work_ / "source"));
  EXPECT_TRUE(fs::is_symlink(work_ / "link"));

  fs::create_directory_symlink("../downloads", desktop_ / "X");
  fs::remove_all(work_ / "downloads");
  fs::create_directories(work_ / "downloads");
  run = runProgram({program_});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_NE(run.output.find("destination is a symbolic link"), std::string::npos) << run.output;
  EXPECT_TRUE(fs::is_empty(work_ / "downloads"));

  fs::create_symlink("nowhere", work_ / "downloads/data.bin");
  run = runProgram({program_, "--dest", "link"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_NE(run.output.find(work_ / "link/data.bin" + " already exists"), std::string::npos)
      << run.output;
  EXPECT_EQ(strayNames(work_ / "downloads", {}), std::vector<std::string>{"data.bin"});
  EXPECT_TRUE(fs::is_symlink(work_ / "downloads/data.bin"));
  EXPECT_EQ(fs::read_symlink(work_ / "downloads/data.bin"), "nowhere");
}

// The folder is the name before .run less its leading dots, so that "..run" does not extract into
// its own folder nor "...run" into the one above; dots alone name none.
TEST_F(CabSfx, FolderIsTheNameBeforeRunWithoutLeadingDots) {
  const std::pair<std::string, std::string> cases[] = {{"..run", ""},
                                                       {"...run", ""},
                                                       {".hidden.run", "hidden"},
                                                       {"report.2024.run", "report.2024"},
                                                       {"bundle", "bundle.extracted"}};
  fs::path program = program_;
  for (const auto& [name, folder] : cases) {
    fs::rename(program, desktop_ / name);
    program = desktop_ / name;
    const ProcessResult run = runProgram({program});
    EXPECT_EQ(run.exitStatus, folder.empty() ? 1 : 0) << run.output;
    EXPECT_TRUE(folder.empty()
                    ? run.output.starts_with("Dots alone name no folder to extract into: " + name)
                    : fs::exists(desktop_ / folder / "data.bin"))
        << run.output;
    EXPECT_FALSE(fs::exists(desktop_ / "data.bin") || fs::exists(work_ / "data.bin")) << name;
  }
}

// A copy cut short writes nothing, and a program made again over it replaces it whole.
TEST_F(CabSfx, CutShortProgramWritesNothingAndIsReplacedWhole) {
  const std::string whole = readFile(program_);
  writeFile(program_, whole.substr(0, whole.size() - 1000));
  const ProcessResult cut = runProgram({program_});
  EXPECT_EQ(cut.exitStatus, 1);
  EXPECT_NE(cut.output.find("damaged or incomplete"), std::string::npos) << cut.output;
  EXPECT_FALSE(fs::exists(desktop_ / "X"));
  ASSERT_EQ(makeProgram(work_ / "tmp/X.cab", desktop_).code, kOk);
  EXPECT_TRUE(readFile(program_) == whole);
}

}  // namespace
}  // namespace cabtest
