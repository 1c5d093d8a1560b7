// --help and --version, answered as Linux programs answer them, and paths that look like them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "support/process.h"
#include "support/temporary_folder.h"

namespace fs = std::filesystem;

namespace {

const std::string kParvo = std::string(PARVO_BINARY_DIR) + "/bin/parvo";

TEST(ParvoOptions, OnlyALoneOptionIsAnOptionAndAnyOtherArgumentIsAPath) {
  const struct {
    std::vector<std::string> arguments;
    int exitStatus;
    std::string outputStart;
    bool helpFolderPacked;
  } cases[] = {
      {{"--version"}, 0, "parvo 1.02.0013\n", false},
      {{"--help"}, 0, "Usage: parvo [PATH]...\n", false},
      {{"./--help"}, 0, "", true},
      {{"--help", "extra"}, 1, "PARVO: Run-time error '5':", true},
      {{"--version", "--help"}, 1, "PARVO: Run-time error '5':", false},
  };
  for (const auto& c : cases) {
    // A folder really named --help, in the current folder of the run.
    const TemporaryFolder folder;
    writeFile(folder / "--help/notes.txt", "kept\n");
    std::vector<std::string> argv{kParvo};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    const auto run = runProcess(argv, {"HOME=" + folder / "home", "PATH=/usr/bin:/bin", "LC_ALL=C"},
                                folder.path().string());
    const std::string label = c.arguments[0] + (c.arguments.size() > 1 ? " ..." : "");
    EXPECT_EQ(run.exitStatus, c.exitStatus) << label << "\n" << run.output;
    EXPECT_EQ(run.output.substr(0, c.outputStart.size()), c.outputStart) << label;
    EXPECT_EQ(fs::exists(folder / "home/Desktop/--help.run"), c.helpFolderPacked) << label;
  }
}

TEST(ParvoOptions, AnAnswerThatCannotBeWrittenIsAFailure) {
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  int status = 0;
  waitpid(startProcess({kParvo, "--help"}, {"LC_ALL=C"}, ".", full), &status, 0);
  close(full);
  EXPECT_EQ(WEXITSTATUS(status), 1);
}

}  // namespace
