// The built program, run as a user runs it: a temporary home, no display, the C locale.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/process.h"
#include "support/temporary_folder.h"

namespace fs = std::filesystem;

namespace {

const std::string kParvo = std::string(PARVO_BINARY_DIR) + "/bin/parvo";

class ParvoRun : public ::testing::Test {
 protected:
  ProcessResult parvo(const std::vector<std::string>& arguments,
                      const std::string& program = kParvo) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runProcess(argv, {"HOME=" + home(), "PATH=/usr/bin:/bin", "LC_ALL=C"},
                      folder.path().string());
  }
  std::string home() const { return folder / "home"; }
  fs::path desktop() const { return fs::path(home()) / "Desktop"; }

  // A zip made by the zip tool, holding one text file.
  std::string makeZip(const std::string& name, const std::string& text = "hello from inside\n") {
    writeFile(folder / "src/inside/readme.txt", text);
    const std::string archive = folder / name;
    const auto made = runProcess({"/usr/bin/zip", "-q", "-r", archive, "inside"},
                                 {"PATH=/usr/bin:/bin"}, folder / "src");
    EXPECT_EQ(made.exitStatus, 0) << made.output;
    return archive;
  }

  TemporaryFolder folder;
};

// A run-time error ends the run with status 1 and no later path is processed; a job ending in a
// message makes it end with status 2.
TEST_F(ParvoRun, EachRunEndsWithItsStatusAndMessage) {
  writeFile(folder / "notes.txt", "x");
  writeFile(folder / "say\"hi\".zip", "x");
  const std::string later = makeZip("later.zip");
  const struct {
    std::vector<std::string> arguments;
    int exitStatus;
    std::string output;
  } cases[] = {
      {{" ", "\t"}, 0, ""},
      {{folder / "missing.zip", later},
       1,
       "PARVO: Run-time error '5':\n\nInvalid procedure call or argument\n"},
      {{folder / "no such/a.zip"}, 1, "PARVO: Run-time error '76':\n\nPath not found\n"},
      // Refused, not misread.
      {{folder / "say\"hi\".zip"}, 1, "PARVO: Run-time error '52':\n\nBad file name or number\n"},
      {{"notes.txt"}, 2, "PARVO: この拡張子のファイルは解凍出来ません\n"},
  };
  for (const auto& c : cases) {
    const auto run = parvo(c.arguments);
    EXPECT_EQ(run.exitStatus, c.exitStatus) << c.arguments[0];
    EXPECT_EQ(run.output, c.output);
  }
  EXPECT_FALSE(fs::exists(desktop() / "later"));
}

TEST_F(ParvoRun, DroppedZipLandsInADesktopFolderNamedAfterIt) {
  // Names that are not UTF-8 reach the archiver byte for byte.
  for (const auto& [archive, folderName] :
       {std::pair{"My Report.v2.Zip", "My Report"}, std::pair{"caf\xe9.zip", "caf\xe9"}}) {
    const auto run = parvo({makeZip(archive)});
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(readFile(desktop() / folderName / "inside/readme.txt"), "hello from inside\n");
  }
}

TEST_F(ParvoRun, LeadingDotsNeverMakeTheDesktopTheDestination) {
  // With the desktop at the home folder, as desktops set it when there is no Desktop folder, an
  // empty folder name would let an archive replace the user's dotfiles.
  writeFile(fs::path(home()) / ".config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME\"\n");
  writeFile(fs::path(home()) / "readme.txt", "the user's own\n");
  const std::string archive = makeZip(".backup.zip");
  writeFile(folder / "...", "dots only");

  const auto run = parvo({archive, folder / "..."});
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_EQ(run.output, "PARVO: この名前のファイルは処理出来ません\n");
  EXPECT_EQ(readFile(fs::path(home()) / "backup/inside/readme.txt"), "hello from inside\n");
  EXPECT_FALSE(fs::exists(fs::path(home()) / "inside"));
  EXPECT_EQ(readFile(fs::path(home()) / "readme.txt"), "the user's own\n");
}

TEST_F(ParvoRun, ExtractingOverEarlierFilesKeepsThemInTheTrash) {
  // Two archives with one base name share a desktop folder; the older copy must survive.
  const std::string older = makeZip("Reports.2023.zip");
  const std::string newer = makeZip("Reports.2024.zip", "the 2024 edition\n");
  ASSERT_EQ(parvo({older}).exitStatus, 0);
  ASSERT_EQ(parvo({older}).exitStatus, 0);  // the same bytes again: nothing to keep
  EXPECT_FALSE(fs::exists(fs::path(home()) / ".local/share/Trash/files"));

  ASSERT_EQ(parvo({newer}).exitStatus, 0);
  EXPECT_EQ(readFile(desktop() / "Reports/inside/readme.txt"), "the 2024 edition\n");
  EXPECT_EQ(readFile(fs::path(home()) / ".local/share/Trash/files/readme.txt"),
            "hello from inside\n");
  EXPECT_NE(readFile(fs::path(home()) / ".local/share/Trash/info/readme.txt.trashinfo")
                .find("Path=" + (desktop() / "Reports/inside/readme.txt").string()),
            std::string::npos);
}

TEST_F(ParvoRun, UnsafeDestinationsAndSpecialFilesAreRefusedPromptly) {
  // A link standing at the destination folder's name is not followed.
  fs::create_directories(desktop());
  fs::create_directories(folder / "elsewhere");
  fs::create_directory_symlink(folder / "elsewhere", desktop() / "linked");
  auto run = parvo({makeZip("linked.zip")});
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_TRUE(fs::is_empty(folder / "elsewhere"));

  // A pipe named like an archive gets an answer, not a hang.
  ASSERT_EQ(mkfifo((folder / "pipe.tar").c_str(), 0600), 0);
  run = parvo({folder / "pipe.tar"});
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_NE(run.output.find("not a regular file"), std::string::npos) << run.output;
  EXPECT_FALSE(fs::exists(desktop() / "pipe"));
}

TEST_F(ParvoRun, OnlyTheNeededLibraryMustBePresent) {
  // A copy of the program with only the ZIP library beside it: the others are never loaded.
  fs::create_directories(folder / "install/bin");
  fs::create_directories(folder / "install/lib");
  fs::copy_file(kParvo, folder / "install/bin/parvo");
  const std::string program = folder / "install/bin/parvo";
  writeFile(folder / "a.lzh", "not needed");

  const std::string archive = makeZip("solo.zip");
  auto run = parvo({archive}, program);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.output, "PARVO: Run-time error '48':\n\nError in loading DLL\n");

  fs::copy_file(std::string(PARVO_LIBRARY_DIR) + "/libunzip32.so",
                folder / "install/lib/libunzip32.so");
  run = parvo({archive, folder / "a.lzh"}, program);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.output, "PARVO: Run-time error '48':\n\nError in loading DLL\n");
  EXPECT_TRUE(fs::exists(desktop() / "solo/inside/readme.txt"));
}

}  // namespace
