// The built program on a virtual X display, driven as a user drives it: the settings window,
// a message window, and the installed tree.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>

#include "support/process.h"
#include "support/temporary_folder.h"

namespace fs = std::filesystem;

namespace {

const std::string kBinaryDir = PARVO_BINARY_DIR;

bool installed(const char* tool) {
  return fs::exists(std::string("/usr/bin/") + tool);
}

// A program left running while the test acts; killed if it is still running at the end.
class RunningProgram {
 public:
  RunningProgram(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                 const std::string& outputFile, int extraFd = -1) {
    const int output = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_ = startProcess(argv, environment, ".", output, extraFd);
    close(output);
  }
  ~RunningProgram() {
    if (pid_ <= 0 || exited_) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  // The exit status, or nothing if the program has not ended within the time.
  std::optional<int> waitForExit(std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::nullopt;
  }

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
};

class ParvoOnADisplay : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"Xvfb", "xdotool", "xclip"}) {
      if (!installed(tool)) GTEST_SKIP() << tool << " is not installed";
    }
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    fcntl(pipeFds[0], F_SETFD, FD_CLOEXEC);
    fcntl(pipeFds[1], F_SETFD, FD_CLOEXEC);
    // Xvfb chooses a free display number and writes it to the descriptor.
    server_.emplace(
        std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", std::to_string(pipeFds[1]),
                                 "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
        std::vector<std::string>{"PATH=/usr/bin:/bin"}, folder / "xvfb.log", pipeFds[1]);
    close(pipeFds[1]);
    std::string number;
    char character = 0;
    while (read(pipeFds[0], &character, 1) == 1 && character != '\n') number += character;
    close(pipeFds[0]);
    ASSERT_FALSE(number.empty()) << readFile(folder / "xvfb.log");
    display_ = ":" + number;
  }

  std::vector<std::string> environment() const {
    std::vector<std::string> environment{"HOME=" + home(), "PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8",
                                         "DISPLAY=" + display_,
                                         "XDG_CONFIG_HOME=" + home() + "/.config"};
    if (const char* leaks = std::getenv("LSAN_OPTIONS")) {
      environment.push_back(std::string("LSAN_OPTIONS=") + leaks);
    }
    return environment;
  }

  ProcessResult tool(const std::string& name, std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), {"/usr/bin/timeout", "20", "/usr/bin/" + name});
    return runProcess(arguments, environment());
  }

  // The id of the window whose title is exactly the text, waiting for it to appear.
  std::string windowNamed(const std::string& title) const {
    const auto found =
        tool("xdotool", {"search", "--sync", "--onlyvisible", "--name", "^" + title + "$"});
    EXPECT_EQ(found.exitStatus, 0) << found.output;
    return found.output.substr(0, found.output.find('\n'));
  }

  // Input sent the moment a window maps can be lost on a busy machine: send it again until the
  // program ends.
  template <typename Action>
  std::optional<int> untilExit(RunningProgram& program, Action send) const {
    std::optional<int> status;
    for (int attempt = 0; attempt < 10 && !status; ++attempt) {
      send();
      status = program.waitForExit(std::chrono::seconds(2));
    }
    return status;
  }

  std::string home() const { return folder / "home"; }

  TemporaryFolder folder;
  std::optional<RunningProgram> server_;
  std::string display_;
};

TEST_F(ParvoOnADisplay, OkStoresTheShownFormatWithItsBlanksAndEndsTheProgram) {
  const fs::path settings = fs::path(home()) / ".config/norrin.ini";
  writeFile(settings, "[parvo]\narcdllselect=lha\n");
  RunningProgram parvo({kBinaryDir + "/bin/parvo"}, environment(), folder / "parvo.log");

  const std::string window = windowNamed("Parvo Version 1.0");
  // The middle of Command1: (1080 + 1575 / 2, 3000 + 255 / 2) twips at 15 twips a pixel.
  const auto status = untilExit(parvo, [&] {
    tool("xdotool", {"mousemove", "--window", window, "124", "208", "click", "1"});
  });
  EXPECT_EQ(status, 0) << readFile(folder / "parvo.log");
  EXPECT_NE(readFile(settings).find("arcdllselect=\"lha  \""), std::string::npos)
      << readFile(settings);
}

TEST_F(ParvoOnADisplay, DamagedArchiveIsExplainedInAMessageWindow) {
  writeFile(folder / "bad.zip", std::string("PK\x03\x04junk"));
  // Without a display the same message goes to standard error.
  const auto plain = runProcess({kBinaryDir + "/bin/parvo", folder / "bad.zip"},
                                {"HOME=" + home(), "PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8"});
  ASSERT_EQ(plain.exitStatus, 2);
  ASSERT_TRUE(plain.output.starts_with("PARVO: ")) << plain.output;
  const std::string explanation = plain.output.substr(7, plain.output.find('\n') - 7);

  RunningProgram parvo({kBinaryDir + "/bin/parvo", folder / "bad.zip"}, environment(),
                       folder / "parvo.log");
  const std::string window = windowNamed("PARVO");
  const std::string screenshot = kBinaryDir + "/tests/e2e/damaged-archive-message.xwd";
  tool("xwd", {"-root", "-silent", "-out", screenshot});
  EXPECT_TRUE(fs::exists(screenshot));

  // Three clicks on the text's line select it, which puts it in the primary selection.
  const auto geometry = tool("xdotool", {"getwindowgeometry", "--shell", window});
  const auto width = std::stoi(geometry.output.substr(geometry.output.find("WIDTH=") + 6));
  ProcessResult copied;
  for (int attempt = 0; attempt < 5 && copied.output.find(explanation) == std::string::npos;
       ++attempt) {
    tool("xdotool", {"mousemove", "--window", window, std::to_string(width / 2), "18", "click",
                     "--repeat", "3", "--delay", "100", "1"});
    copied = tool("xclip", {"-o", "-selection", "primary"});
  }
  EXPECT_NE(copied.output.find(explanation), std::string::npos) << copied.output;

  const auto status = untilExit(parvo, [&] { tool("xdotool", {"key", "Return"}); });
  EXPECT_EQ(status, 2) << readFile(folder / "parvo.log");
  EXPECT_EQ(readFile(folder / "parvo.log").find("PARVO:"), std::string::npos);
}

TEST(InstalledParvo, ExtractsFromItsOwnFolderAndItsLauncherIsValid) {
  TemporaryFolder folder;
  const std::string prefix = folder / "usr";
  const auto install = runProcess(
      {PARVO_CMAKE_COMMAND, "--install", kBinaryDir, "--prefix", prefix}, {"PATH=/usr/bin:/bin"});
  ASSERT_EQ(install.exitStatus, 0) << install.output;
  for (const char* file : {"lib/parvo/libunzip32.so", "lib/parvo/libcab32.so",
                           "lib/parvo/libparvo-qt.so", "share/icons/hicolor/32x32/apps/parvo.png",
                           "share/icons/hicolor/scalable/apps/parvo.svg"}) {
    EXPECT_TRUE(fs::exists(fs::path(prefix) / file)) << file;
  }
  EXPECT_FALSE(fs::exists(fs::path(prefix) / "lib/libunzip32.so"));

  writeFile(folder / "src/inside/readme.txt", "hello from inside\n");
  runProcess({"/usr/bin/zip", "-q", "-r", folder / "drop.zip", "inside"}, {"PATH=/usr/bin:/bin"},
             folder / "src");
  std::vector<std::string> environment{"HOME=" + folder / "home", "PATH=/usr/bin:/bin", "LC_ALL=C"};
  if (const char* leaks = std::getenv("LSAN_OPTIONS")) {
    environment.push_back(std::string("LSAN_OPTIONS=") + leaks);
  }
  const auto run = runProcess({prefix + "/bin/parvo", folder / "drop.zip"}, environment);
  EXPECT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_EQ(readFile(folder / "home/Desktop/drop/inside/readme.txt"), "hello from inside\n");

  // A dropped folder with the default preference: the self-extracting program, made by the
  // installed library alone, unpacks what was packed.
  const auto packed = runProcess({prefix + "/bin/parvo", folder / "src/inside"}, environment);
  EXPECT_EQ(packed.exitStatus, 0) << packed.output;
  const auto unpacked = runProcess({folder / "home/Desktop/inside.run", "--dest", folder / "out"},
                                   {}, folder.path().string());
  EXPECT_EQ(unpacked.exitStatus, 0) << unpacked.output;
  EXPECT_EQ(readFile(folder / "out/readme.txt"), "hello from inside\n");

  if (installed("desktop-file-validate")) {
    const auto valid = runProcess(
        {"/usr/bin/desktop-file-validate", prefix + "/share/applications/parvo.desktop"}, {});
    EXPECT_EQ(valid.exitStatus, 0) << valid.output;
    EXPECT_EQ(valid.output, "");
  }
}

}  // namespace
