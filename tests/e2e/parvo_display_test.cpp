// The built program on a virtual X display, driven as a user drives it: the settings window, the
// progress window, the password prompt (on a terminal too) and the message window.

#include <functional>
#include <random>

#include "support/peer_tool.h"
#include "support/tree_snapshot.h"

using Clock = std::chrono::steady_clock;

namespace {

class ParvoOnADisplay : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::string tool : {"Xvfb", "xdotool"}) {
      if (!fs::exists("/usr/bin/" + tool)) GTEST_SKIP() << tool << " is not installed";
    }
    server_.emplace(folder / "xvfb.log");
    ASSERT_FALSE(server_->name().empty()) << readFile(folder / "xvfb.log");
  }

  std::vector<std::string> environment() const {
    std::vector<std::string> environment{"HOME=" + home(), "PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8",
                                         "DISPLAY=" + server_->name(),
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

  // The id of the program's visible window titled exactly so; empty when the program ends first.
  // No total time: a busy machine makes the window slower to come, never absent.
  std::string windowNamed(RunningProgram& program, const std::string& title) const {
    for (;;) {
      const auto found = tool("xdotool", {"search", "--onlyvisible", "--name", "^" + title + "$"});
      if (found.exitStatus == 0 && !found.output.empty()) {
        return found.output.substr(0, found.output.find('\n'));
      }
      if (program.waitForExit(std::chrono::milliseconds(50))) return {};
    }
  }

  // Input sent the moment a window maps can be lost on a busy machine: send it again until the
  // program ends. sent_ is when the last input went, once sent, so that timing from it leaves the
  // sending tool's own start-up out.
  std::optional<int> untilExit(RunningProgram& program, const std::function<void()>& send) {
    std::optional<int> status;
    while (!status) {
      send();
      sent_ = Clock::now();
      status = program.waitForExit(std::chrono::seconds(2));
    }
    return status;
  }

  std::string home() const { return folder / "home"; }

  TemporaryFolder folder;
  std::optional<VirtualDisplay> server_;  // stopped, it keeps its name
  Clock::time_point sent_;
};

TEST_F(ParvoOnADisplay, OkStoresTheShownFormatWithItsBlanksAndEndsTheProgram) {
  const fs::path settings = fs::path(home()) / ".config/norrin.ini";
  writeFile(settings, "[parvo]\narcdllselect=lha\n");
  RunningProgram parvo({kParvo}, environment(), folder / "parvo.log");

  const std::string window = windowNamed(parvo, "Parvo Version 1.0");
  ASSERT_FALSE(window.empty()) << readFile(folder / "parvo.log");
  // The middle of Command1: (1080 + 1575 / 2, 3000 + 255 / 2) twips at 15 twips a pixel.
  const auto status = untilExit(parvo, [&] {
    tool("xdotool", {"mousemove", "--window", window, "124", "208", "click", "1"});
  });
  EXPECT_EQ(status, 0) << readFile(folder / "parvo.log");
  EXPECT_NE(readFile(settings).find("arcdllselect=\"lha  \""), std::string::npos)
      << readFile(settings);
}

// Sanitizers slow every step, the exit's leak check included.
#if defined(__SANITIZE_ADDRESS__)
constexpr auto kCancelToExitLimit = std::chrono::milliseconds(2000);
#else
constexpr auto kCancelToExitLimit = std::chrono::milliseconds(1000);
#endif

// Words in random order: text that takes the default pack many seconds.
void writeSlowToPackText(const fs::path& path, std::size_t bytes) {
  std::mt19937 random(7);
  std::vector<std::string> words(4000);
  for (std::string& word : words) {
    for (std::size_t letters = 2 + random() % 8; word.size() < letters;)
      word += static_cast<char>('a' + random() % 26);
  }
  std::string text;
  while (text.size() < bytes) text += words[random() % words.size()] + (random() % 16 ? " " : "\n");
  writeFile(path, text);
}

using ProgressWindowOnADisplay = ParvoOnADisplay;

// A long pack shows its window soon; the button and Escape stop it at once, leaving nothing of its
// own behind and the older program on the desktop as it was.
TEST_F(ProgressWindowOnADisplay, LongPackStopsByButtonOrEscapeLeavingNothing) {
  writeSlowToPackText(folder / "big/text.txt", 48 << 20);
  writeFile(fs::path(home()) / "Desktop/big.run", "older program\n");
  fs::create_directories(fs::path(home()) / ".cache");
  const Tree before = snapshot(home());
  for (const bool button : {true, false}) {
    SCOPED_TRACE(button ? "button" : "Escape");
    const Clock::time_point started = Clock::now();
    RunningProgram parvo({kParvo, folder / "big"}, environment(), folder / "parvo.log");
    ASSERT_FALSE(windowNamed(parvo, "PARVO - big.cab").empty()) << readFile(folder / "parvo.log");
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(3));
    const auto status = untilExit(parvo, [&] {
      // Afresh: an earlier id may be a stale one. None when the program has ended.
      const std::string window = windowNamed(parvo, "PARVO - big.cab");
      if (window.empty()) return;
      if (button) {  // the middle of キャンセル
        tool("xdotool", {"mousemove", "--window", window, "374", "120", "click", "1"});
      } else {
        tool("xdotool", {"key", "--window", window, "Escape"});
      }
    });
    EXPECT_EQ(status, 2) << readFile(folder / "parvo.log");
    EXPECT_LT(Clock::now() - sent_, kCancelToExitLimit);
    EXPECT_EQ(snapshot(home()), before);  // no cabinet, no cache folder, nothing in the Trash
    // The server may still list the window a moment after its program has gone: the next round
    // must not find it.
    for (int i = 0; i < 100 && !tool("xdotool", {"search", "--name", "^PARVO"}).output.empty();
         ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(readFile(folder / "parvo.log").find("PARVO:"), std::string::npos);
  }
}

// The server killed while a long job's window is up, from inside Qt's event loop: the job goes on
// without a window, completes, and leaves nothing of its own behind.
TEST_F(ProgressWindowOnADisplay, ALostDisplayNeitherEndsTheJobNorLeavesAnythingBehind) {
  writeSlowToPackText(folder / "big/text.txt", 12 << 20);
  const fs::path cache = fs::path(home()) / ".cache";
  fs::create_directories(cache);
  RunningProgram pack({kParvo, folder / "big"}, environment(), folder / "parvo.log");
  ASSERT_FALSE(windowNamed(pack, "PARVO - big.cab").empty()) << readFile(folder / "parvo.log");
  server_->stop();
  EXPECT_EQ(pack.waitForExit(), 0) << readFile(folder / "parvo.log");
  EXPECT_TRUE(fs::exists(fs::path(home()) / "Desktop/big.run"));
  EXPECT_EQ(snapshot(cache), Tree{});
  for (const auto& [path, node] : snapshot(home())) {
    EXPECT_EQ(path.find(".parvo-"), std::string::npos) << path;
  }
}

}  // namespace

// ZIP passwords, asked on the terminal (a tmux pane, typed with send-keys) and in the window
// (typed with xdotool), or not at all without either. Each row checks the tree, the status, the
// message (told once: a message window's text is not printed as well) and what is left; the
// password is found in no output and no file the run leaves. The kinds of archive each take one
// way of asking; what the ways do differently (a retry, the last wrong answer, a cancel) takes
// both.
constexpr char kPassword[] = "s3cret-Pw";
constexpr char kCancel[] = "";  // an answer that cancels: Ctrl-C, or the window's キャンセル
constexpr char kZip[] = "zip -qr -P s3cret-Pw ../x.zip dir b.txt";
constexpr char kAes[] = "7zz a -tzip -mem=AES256 -ps3cret-Pw ../x.zip dir b.txt";
constexpr char kMixed[] = "zip -q ../x.zip b.txt && zip -qr -P s3cret-Pw ../x.zip dir";
enum Asked { kNowhere = 0, kOnTheTerminal = 1, kInTheWindow = 2, kBoth = 3 };

const struct {
  const char* name;
  const char* make;  // run in a folder holding dir/a.txt and b.txt, writes ../x.zip
  std::vector<const char*> answers;
  Asked asked;  // kNowhere: neither a terminal nor a display
  int status;
  const char* message;  // in the program's output; empty for none
} kPasswordCases[] = {
    {"zip -P", kZip, {kPassword}, kOnTheTerminal, 0, ""},
    {"7zz AES-256", kAes, {kPassword}, kInTheWindow, 0, ""},
    {"mixed", kMixed, {kPassword}, kInTheWindow, 0, ""},
    {"wrong, then right", kZip, {"wrong", kPassword}, kBoth, 0, ""},
    {"three wrong", kAes, {"no1", "no2", "no3"}, kBoth, 2, "wrong password (and 1 more): "},
    {"cancel", kZip, {kCancel}, kBoth, 2, ""},
    {"nowhere to ask", kZip, {}, kNowhere, 2, "needs a password (and 1 more): "},
};

class PasswordOnADisplay : public ParvoOnADisplay {
 protected:
  // Runs Parvo on the archive in a tmux pane, answering each prompt as it comes. The status and
  // what the pane and the program's output showed.
  std::pair<int, std::string> onTerminal(const fs::path& archive,
                                         const std::vector<const char*>& answers) {
    const auto tmux = [&](std::vector<std::string> arguments) {
      arguments.insert(arguments.begin(), {"/usr/bin/tmux", "-S", folder / "tmux.socket"});
      return runProcess(arguments, {"PATH=/usr/bin:/bin", "TERM=xterm"}).output;
    };
    const std::string status = folder / "status";
    fs::remove(status);
    tmux({"new-session", "-d", "-x", "100", "-y", "20", "sh", "-c",
          "trap : INT; env -i PATH=/usr/bin:/bin HOME=" + home() + " LC_ALL=C.UTF-8 " + kParvo +
              " " + archive.string() + " >" + (folder / "parvo.log") + " 2>&1; echo $? >" + status +
              ".part; mv " + status + ".part " + status + "; sleep 60"});
    for (std::size_t asked = 0; !fs::exists(status);) {
      const std::string pane = tmux({"capture-pane", "-p"});
      std::size_t prompts = 0;
      for (std::size_t at = 0; (at = pane.find("Password for", at)) != std::string::npos; ++at)
        ++prompts;
      if (prompts > asked && asked < answers.size()) {
        if (*answers[asked] == '\0') {
          tmux({"send-keys", "C-c"});
        } else {
          tmux({"send-keys", "-l", answers[asked]});
          tmux({"send-keys", "Enter"});
        }
        ++asked;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const std::string pane = tmux({"capture-pane", "-p"});
    tmux({"kill-server"});
    return {std::stoi(readFile(status)), pane + readFile(folder / "parvo.log")};
  }

  // Runs Parvo on the archive on the display, answering each password window as it comes; without
  // canAsk, with neither display nor terminal. Keys sent as a window maps may be lost: the answer
  // is sent again, the entry cleared first, until that window goes.
  std::pair<int, std::string> inWindow(const fs::path& archive,
                                       const std::vector<const char*>& answers, bool canAsk) {
    std::vector<std::string> environment = this->environment();
    if (!canAsk)
      std::erase_if(environment, [](const auto& v) { return v.starts_with("DISPLAY="); });
    RunningProgram parvo({"/usr/bin/setsid", "-w", kParvo, archive}, environment,
                         folder / "parvo.log");
    const std::string title = "PARVO - パスワード - " + archive.filename().string();
    const auto shown = [&](const std::string& window) {
      const auto found = tool("xdotool", {"search", "--onlyvisible", "--name", "^" + title + "$"});
      return found.output.find(window) != std::string::npos;
    };
    std::string previous;
    for (const char* answer : answers) {
      std::string window;
      while ((window = windowNamed(parvo, title)) == previous && !window.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      if (window.empty()) break;
      do {
        if (*answer == '\0') {
          tool("xdotool", {"mousemove", "--window", window, "374", "120", "click", "1"});
        } else {
          // Real keys to the focused window: keys sent to a window alone come through as the
          // toolkit reads the keymap, which they can leave behind.
          tool("xdotool", {"windowfocus", window, "key", "ctrl+a", "BackSpace", "type", answer});
          tool("xdotool", {"key", "Return"});
        }
      } while (!parvo.waitForExit(std::chrono::seconds(2)) && shown(window));
      previous = window;
    }
    // A message comes in a window of its own: answered, it ends the run.
    std::string output;
    if (canAsk && !parvo.waitForExit(std::chrono::seconds(2)) &&
        !windowNamed(parvo, "PARVO").empty()) {
      output = "PARVO: in a window\n";
      untilExit(parvo, [&] { tool("xdotool", {"key", "Return"}); });
    }
    return {*parvo.waitForExit(), output + readFile(folder / "parvo.log")};
  }
};

TEST_F(PasswordOnADisplay, AskedOnTheTerminalOrInTheWindowNeverWrittenDown) {
  for (const std::string tool : {"tmux", "zip", "7zz"}) {
    if (!fs::exists("/usr/bin/" + tool)) GTEST_SKIP() << tool << " is not installed";
  }
  writeFile(folder / "source/dir/a.txt", "hello\n");
  writeFile(folder / "source/b.txt", "world\n");
  const Contents whole{
      {"x", "<dir>"}, {"x/b.txt", "world\n"}, {"x/dir", "<dir>"}, {"x/dir/a.txt", "hello\n"}};
  const fs::path desktop = fs::path(home()) / "Desktop";
  for (const auto& row : kPasswordCases) {
    fs::remove(folder / "x.zip");
    ASSERT_NO_FATAL_FAILURE(runShell(row.make, folder / "source"));
    for (const Asked way : {kNowhere, kOnTheTerminal, kInTheWindow}) {
      if (row.asked != way && !(row.asked & way)) continue;
      SCOPED_TRACE(std::string(row.name) + (way == kOnTheTerminal ? " on the terminal" : ""));
      fs::remove_all(home());
      fs::create_directories(desktop);
      const auto [status, output] = way == kOnTheTerminal
                                        ? onTerminal(folder / "x.zip", row.answers)
                                        : inWindow(folder / "x.zip", row.answers, way != kNowhere);
      EXPECT_EQ(status, row.status) << output;
      EXPECT_EQ(entriesIn(desktop), row.status == 0 ? whole : Contents{}) << output;
      // A message window's text is the library's, as the terminal shows it: here only its window.
      const std::string message =
          *row.message && way != kInTheWindow ? std::string("PARVO: ") + row.message : "PARVO:";
      const std::size_t told = output.find(message);
      EXPECT_EQ(told != std::string::npos, *row.message != '\0') << output;
      EXPECT_EQ(output.find(message, told + 1), std::string::npos) << output;
      EXPECT_EQ(output.find(kPassword), std::string::npos) << output;
      for (const auto& item : fs::recursive_directory_iterator(folder.path())) {
        if (item.is_regular_file() && item.path().filename() != "x.zip") {
          EXPECT_EQ(readFile(item.path()).find(kPassword), std::string::npos) << item.path();
        }
      }
    }
  }
}
