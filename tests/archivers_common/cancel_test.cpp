// The user's cancel as each writer takes it (the readers take it by the one member policy), a
// termination signal, which every library call and the self-extracting program take as a cancel,
// and a file that changes while a writer packs it.
#include <time.h>

#include <latch>

#include "cab/cabinet_writer.h"
#include "common/input_file.h"
#include "common/landing.h"
#include "common/progress.h"
#include "lzh/lzh_writer.h"
#include "support/archiver_library.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/thrown.h"
#include "support/tree_snapshot.h"

using archivers::ArchiveError;
using archivers::ProgressSnapshot;
using archivers::Result;

namespace {

constexpr std::uintmax_t kBigMember = 160u << 20;
const std::string kSmallText = "complete before the large member\n";

class StopWhen final : public archivers::ProgressPresenter {
 public:
  explicit StopWhen(std::function<bool(const ProgressSnapshot&)> condition)
      : condition_(std::move(condition)) {}
  std::chrono::milliseconds delay() const override { return {}; }
  // Asked at every checkpoint: a large member of zeros is written in a few milliseconds.
  std::chrono::milliseconds interval() const override { return {}; }
  bool update(const ProgressSnapshot& snapshot) override { return condition_(snapshot); }

 private:
  std::function<bool(const ProgressSnapshot&)> condition_;
};

Result resultOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ArchiveError& error) {
    return error.result();
  }
  return Result::kOk;
}

// Packs the current folder with the writer the archive's extension names.
auto pack(const fs::path& archive, archivers::FollowedCall& call,
          archivers::cab::CompressionMethod method = {}) {
  if (archive.extension() == ".lzh") return archivers::lzh::writeArchive(archive, false, call);
  return archivers::cab::writeCabinet(archive, false, method, call);
}

class CancelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFile(folder / "src/small.txt", kSmallText);
    writeFile(folder / "src/big.bin", "");
    fs::resize_file(folder / "src/big.bin", kBigMember);  // zeros, without the disk space
  }

  TemporaryFolder folder;
};

// Another run puts a file at the name between the comparison and the swap, and the user stops
// while that file is compared: it goes back to its name, never left under a hidden one.
TEST_F(CancelTest, AStopWhileADisplacedFileIsComparedPutsItBack) {
  setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
  const fs::path landing = folder / "landing";
  writeFile(landing / "user.txt", "old");
  writeFile(landing / "ours", "our new bytes");
  const archivers::FileDescriptor folderFd(::open(landing.c_str(), O_RDONLY | O_DIRECTORY));
  const archivers::FileDescriptor contentFd(::openat(folderFd.get(), "ours", O_RDONLY));
  const auto make = [&](const char* candidate) {
    if (std::string_view(candidate) != "user.txt") {
      writeFile(landing / "racer", "their bytes!!");  // as long as ours, so it is read
      fs::rename(landing / "racer", landing / "user.txt");
    }
    return ::linkat(folderFd.get(), "ours", folderFd.get(), candidate, 0);
  };
  archivers::FollowedCall call(
      std::make_unique<StopWhen>([](const ProgressSnapshot&) { return true; }));
  const Result result = resultOf([&] {
    archivers::landAt(folderFd.get(), "user.txt", landing / "user.txt", contentFd.get(), make,
                      call);
  });
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(result, Result::kCancelled);
  EXPECT_EQ(readFile(landing / "user.txt"), "their bytes!!");
  EXPECT_EQ(strayNames(landing, {"user.txt", "ours"}), std::vector<std::string>{});
}

// Stopped halfway: nothing under the archive's name but the older archive, untouched, and no
// temporary file beside it.
TEST_F(CancelTest, EveryWriterStopsHalfwayLeavingTheOlderArchiveAlone) {
  for (const std::string name : {"a.cab", "a.lzh"}) {
    SCOPED_TRACE(name);
    const fs::path out = folder / ("out-" + name);
    writeFile(out / name, "older archive\n");
    const InFolder in(folder / "src");
    std::uint64_t doneWhenStopped = 0;
    archivers::FollowedCall call(std::make_unique<StopWhen>([&](const ProgressSnapshot& snapshot) {
      doneWhenStopped = snapshot.done;
      return snapshot.done * 2 > snapshot.total;
    }));
    const Result result = resultOf([&] {
      pack(out / name, call, {archivers::cab::CompressionMethod::Kind::kLzx, 21});
    });
    EXPECT_EQ(result, Result::kCancelled);
    EXPECT_LT(doneWhenStopped, kBigMember);  // while packing, not only once all was read
    EXPECT_EQ(readFile(out / name), "older archive\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1);
  }
}

// Two library calls on two threads of one process, as a program that extracts two archives at
// once makes them: each shows only its own bytes, the user's stop of one leaves the other running,
// and the other goes on after the first has ended.
TEST(TwoCalls, OnTwoThreadsKeepTheirOwnBytesAndTheirOwnStop) {
  std::vector<std::uint64_t> seenByFirst, seenBySecond;
  std::latch bothStarted(2), secondCounted(1), firstEnded(1);
  Result first = Result::kOk;
  Result second = Result::kInternal;
  std::thread stopped([&] {
    {
      archivers::FollowedCall call(
          std::make_unique<StopWhen>([&](const ProgressSnapshot& snapshot) {
            seenByFirst.push_back(snapshot.done);
            return true;
          }));
      bothStarted.arrive_and_wait();
      secondCounted.wait();
      first = resultOf([&] { call.advance(1); });
    }
    firstEnded.count_down();
  });
  std::thread running([&] {
    archivers::FollowedCall call(std::make_unique<StopWhen>([&](const ProgressSnapshot& snapshot) {
      seenBySecond.push_back(snapshot.done);
      return false;
    }));
    bothStarted.arrive_and_wait();
    call.advance(1000);
    secondCounted.count_down();
    firstEnded.wait();
    second = resultOf([&] {
      call.advance(10);
      call.checkpoint();
    });
  });
  stopped.join();
  running.join();
  EXPECT_EQ(first, Result::kCancelled);
  EXPECT_EQ(seenByFirst, std::vector<std::uint64_t>{1});
  EXPECT_EQ(second, Result::kOk);
  EXPECT_EQ(seenBySecond, (std::vector<std::uint64_t>{1000, 1010, 1010}));
}

volatile sig_atomic_t termsCaught = 0;
void catchTerm(int) {
  termsCaught = termsCaught + 1;
}

// A termination signal stops every call in flight. The handler the caller had is held back until
// the last of them has ended, then put back and given the signal once; a call made afterwards
// does not take the old signal for a stop.
TEST(TwoCalls, ATerminationSignalStopsEveryCallAndReachesTheCallerAfterTheLast) {
  struct sigaction own {};
  struct sigaction previous {};
  own.sa_handler = catchTerm;
  sigemptyset(&own.sa_mask);
  ASSERT_EQ(::sigaction(SIGTERM, &own, &previous), 0);
  termsCaught = 0;
  const auto handlerNow = [] {
    struct sigaction now {};
    ::sigaction(SIGTERM, nullptr, &now);
    return now.sa_handler;
  };
  std::latch bothStarted(3), signalled(1), firstEnded(1);
  Result first = Result::kOk;
  Result second = Result::kOk;
  int caughtWhileSecondRan = -1;
  bool ownHandlerWhileSecondRan = true;
  std::thread one([&] {
    {
      archivers::FollowedCall call(nullptr);
      bothStarted.arrive_and_wait();
      signalled.wait();
      first = resultOf([&] { call.checkpoint(); });
    }
    firstEnded.count_down();
  });
  std::thread other([&] {
    archivers::FollowedCall call(nullptr);
    bothStarted.arrive_and_wait();
    firstEnded.wait();
    caughtWhileSecondRan = termsCaught;
    ownHandlerWhileSecondRan = handlerNow() == catchTerm;
    second = resultOf([&] { call.checkpoint(); });
  });
  bothStarted.arrive_and_wait();
  ::raise(SIGTERM);  // delivered before it returns, to the calls' handler
  signalled.count_down();
  one.join();
  other.join();
  EXPECT_EQ(first, Result::kCancelled);
  EXPECT_EQ(second, Result::kCancelled);
  EXPECT_EQ(caughtWhileSecondRan, 0);
  EXPECT_FALSE(ownHandlerWhileSecondRan);
  EXPECT_EQ(termsCaught, 1);
  EXPECT_EQ(handlerNow(), catchTerm);
  {
    archivers::FollowedCall later(nullptr);
    EXPECT_EQ(resultOf([&] { later.checkpoint(); }), Result::kOk);
  }
  ::sigaction(SIGTERM, &previous, nullptr);
}

// Rewrites 4 KiB in the middle and puts the modification time back, as a tool that preserves
// times does, once the clock has passed the change time, so that only that one tells.
void rewriteInPlace(const fs::path& file) {
  struct stat before {};
  ASSERT_EQ(stat(file.c_str(), &before), 0);
  const auto nanoseconds = [](const timespec& t) { return t.tv_sec * 1000000000LL + t.tv_nsec; };
  for (timespec now{}; clock_gettime(CLOCK_REALTIME_COARSE, &now) == 0 &&
                       nanoseconds(now) <= nanoseconds(before.st_ctim);) {
    usleep(1000);
  }
  const archivers::FileDescriptor fd(open(file.c_str(), O_WRONLY));
  ASSERT_GE(fd.get(), 0);
  const std::string bytes(4096, 'X');
  EXPECT_EQ(pwrite(fd.get(), bytes.data(), bytes.size(), before.st_size / 2), 4096);
  const timespec times[2] = {before.st_atim, before.st_mtim};
  EXPECT_EQ(futimens(fd.get(), times), 0);
}

// A file rewritten in place at the same size while a writer packs it (a database, a disk image)
// would go in as old bytes up to some offset and new ones after. Every writer refuses it, even
// when the rewrite put the modification time back (a moved one is caught by the same check): the
// change time still moved.
TEST(ChangedWhilePacked, EveryWriterRefusesAFileRewrittenAtTheSameSize) {
  setenv("PARVO_THREADS", "1", 1);
  // When the calling thread sees the file being read. The cabinet reads on a worker: its first
  // checkpoint after the walk comes before it has taken the first 1 MiB task from a single
  // worker, which then runs at most one task ahead, so it opens z.bin (from the second task on)
  // again after the rewrite.
  const std::pair<std::string, std::function<bool(const ProgressSnapshot&)>> writers[] = {
      {"a.cab", [](const ProgressSnapshot& snapshot) { return snapshot.total > 0; }},
      {"a.lzh", [](const ProgressSnapshot& snapshot) { return snapshot.member == "z.bin"; }},
  };
  for (const auto& writer : writers) {
    SCOPED_TRACE(writer.first);
    TemporaryFolder work;
    writeFiles(work / "src", {{"a.bin", noise(1536 << 10, 1)}, {"z.bin", noise(3 << 20, 2)}});
    const InFolder in(work / "src");
    bool rewritten = false;
    archivers::FollowedCall call(std::make_unique<StopWhen>([&](const ProgressSnapshot& snapshot) {
      if (!rewritten && writer.second(snapshot)) {
        rewriteInPlace(work / "src/z.bin");
        rewritten = true;
      }
      return false;
    }));
    const ArchiveError error = thrown<ArchiveError>([&] { pack(work / writer.first, call); });
    EXPECT_TRUE(rewritten);
    EXPECT_EQ(error.result(), Result::kCannotOpen);
    EXPECT_STREQ(error.what(), "cannot read, it changed while being packed: z.bin");
    EXPECT_FALSE(fs::exists(work / writer.first));
  }
  unsetenv("PARVO_THREADS");
}

// A counter of /proc/PID/io: "rchar" (bytes read) or "wchar" (bytes written).
std::uint64_t ioCounter(pid_t pid, const std::string& name) {
  std::ifstream io("/proc/" + std::to_string(pid) + "/io");
  std::string key;
  std::uint64_t value = 0;
  while (io >> key >> value) {
    if (key == name + ":") return value;
  }
  return 0;
}

// Every name under root that holds ".parvo-", the writers' and the sink's temporary names.
std::vector<std::string> temporaryNames(const fs::path& root) {
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.path().filename().string().find(".parvo-") != std::string::npos) {
      names.push_back(entry.path().string());
    }
  }
  return names;
}

// A real job in another process, sent a termination signal once it has read or written so much:
// it dies by that signal, having cleaned up as a cancel does. Extractions keep complete members
// only and remove a destination they made with none; packs leave the older archive as it was
// (each writer's own cleanup is in the table above); a run of several paths starts none after the
// one stopped.
TEST_F(CancelTest, ATerminationSignalCleansUpAsACancelThenEndsTheProcessByIt) {
  const fs::path home = folder / "home";
  const fs::path desktop = home / "Desktop";
  const fs::path src = folder / "src";
  // Long enough that each job is still running when its counter passes the point, short enough to
  // make the archives quickly.
  fs::resize_file(src / "big.bin", 64u << 20);
  {
    const InFolder in(src);  // the writers put the large member first, the tools the small one
    archivers::FollowedCall making(nullptr);
    pack(folder / "a.cab", making);
  }
  runTool({"zip", "-q", "-1", "../a.zip", "small.txt", "big.bin"}, src);
  runTool({"zip", "-q", "../b.zip", "small.txt"}, src);
  ASSERT_EQ(callArchiver(kCab, "-f \"" + folder / "a.cab" + "\" \"" + folder / "sfx/\"").code, kOk);
  // What Cab -f copies is only looked at for its signature: a long conversion without the disk.
  writeFile(folder / "cabinet/long.cab", "MSCF");
  fs::resize_file(folder / "cabinet/long.cab", 64u << 20);
  for (const char* older : {"src.run", "long.run"}) writeFile(desktop / older, "older archive\n");
  writeFile(home / ".config/norrin.ini", "[parvo]\narcdllselect=\"cabex\"\n");
  const int log = ::open((folder / "child.log").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  const auto start = [&](const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment) {
    return [&, argv, environment] { return startProcess(argv, environment, folder.path(), log); };
  };
  const std::vector<std::string> parvoEnvironment{"HOME=" + home.string(), "PATH=/usr/bin:/bin"};
  constexpr std::uint64_t kMidway = 4u << 20;
  struct Case {
    std::string job;
    std::function<pid_t()> start;
    const char* counter;  // the signal goes once this I/O counter reaches point
    std::uint64_t point;
    int signal;
    fs::path made;            // where an extraction writes; what a pack must leave alone
    bool keepsSmall = false;  // the complete member before the large one is there
  };
  const std::vector<Case> cases = {
      {"zip, then another path",
       start({kParvo, folder / "a.zip", folder / "b.zip"}, parvoEnvironment), "wchar", kMidway,
       SIGTERM, desktop / "a", true},
      {"cab at its first byte", start({kParvo, folder / "a.cab"}, parvoEnvironment), "wchar", 1,
       SIGINT, desktop / "a"},
      {"self-extracting pack", start({kParvo, src}, parvoEnvironment), "rchar", kMidway, SIGTERM,
       desktop / "src.run"},
      {"Cab -f",
       [&] {
         const std::string line =
             "-f \"" + folder / "cabinet/long.cab" + "\" \"" + desktop.string() + "/\"";
         const pid_t child = fork();
         if (child == 0) _exit(callArchiver(kCab, line).code);
         return child;
       },
       "wchar", kMidway, SIGINT, desktop / "long.run"},
      {".run", start({folder / "sfx/a.run", "--dest", folder / "run-out"}, {}), "wchar", kMidway,
       SIGHUP, folder / "run-out"},
  };
  std::chrono::steady_clock::duration slowest{};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.job);
    const pid_t child = c.start();
    ASSERT_GT(child, 0);
    int status = 0;
    while (ioCounter(child, c.counter) < c.point) {
      ASSERT_EQ(::waitpid(child, &status, WNOHANG), 0)
          << "the job ended before the signal; status " << status << "\n"
          << readFile(folder / "child.log");
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const auto sent = std::chrono::steady_clock::now();
    ::kill(child, c.signal);
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const auto took = std::chrono::steady_clock::now() - sent;
    EXPECT_EQ(WIFSIGNALED(status) ? WTERMSIG(status) : 0, c.signal)
        << "status " << status << "\n"
        << readFile(folder / "child.log");
    EXPECT_LT(took, std::chrono::seconds(2));
    slowest = std::max(slowest, took);
    EXPECT_EQ(temporaryNames(folder.path()), std::vector<std::string>{});
    if (c.made.extension().empty()) {
      if (c.keepsSmall) {
        EXPECT_EQ(entriesIn(c.made), (Contents{{"small.txt", kSmallText}}));
      } else {
        EXPECT_FALSE(fs::exists(c.made)) << "a destination with nothing complete is removed";
      }
      fs::remove_all(c.made);
    } else {
      EXPECT_EQ(readFile(c.made), "older archive\n");
    }
  }
  EXPECT_FALSE(fs::exists(desktop / "b"));
  ::close(log);
  RecordProperty(
      "slowest_signal_to_end_ms",
      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count()));
}

}  // namespace
