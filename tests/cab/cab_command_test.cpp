#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "stored_cabinet.h"
#include "support/archiver_library.h"
#include "support/temporary_folder.h"

namespace cabtest {
namespace {

TEST(CabCommand, AnswersTheCommandLinesItDoesNotExtract) {
  TemporaryFolder work;
  EXPECT_EQ(callArchiver(kCab, "-a -r -ml:21 \"" + work / "out.cab\" a.txt").code, kUnsupported);
  EXPECT_EQ(callArchiver(kCab, "-f \"x.cab\" \"" + work / "d/\"").code, kUnsupported);
  for (const std::string line :
       {"", "-x -o -r \"a.cab\"", "-x -o -r \"a.cab\" \"d/\" \"extra\"", "-x -q -o -r a.cab d/",
        "-z a.cab d/", "-x -o -r \"a.cab d/", "-a -r -ml:21 \"out.cab\""}) {
    SCOPED_TRACE(line);
    const ArchiverResult result = callArchiver(kCab, line);
    EXPECT_EQ(result.code, kBadCommandLine);
    EXPECT_FALSE(result.output.empty());
  }
}

TEST(CabCommand, MissingOrForeignArchiveCannotBeOpened) {
  TemporaryFolder work;
  EXPECT_EQ(extractWith(kCab, work / "missing.cab", work / "out").code, kCannotOpen);
  writeFile(work.path() / "plain.cab", std::string(5000, 'x'));
  const ArchiverResult result = extractWith(kCab, work / "plain.cab", work / "out");
  EXPECT_EQ(result.code, kCannotOpen);
  EXPECT_NE(result.output.find("not a cabinet"), std::string::npos) << result.output;
}

TEST(CabCommand, ReportsRunningOnlyDuringAnOperation) {
  // The cabinet is a named pipe: the operation blocks reading it until the test writes, so
  // the running state is seen without racing the extraction.
  TemporaryFolder work;
  const std::string pipePath = work / "held.cab";
  ASSERT_EQ(mkfifo(pipePath.c_str(), 0600), 0);

  void* library = dlopen((std::string(PARVO_LIBRARY_DIR) + "/libcab32.so").c_str(), RTLD_NOW);
  ASSERT_NE(library, nullptr);
  using Entry = int32_t (*)(int32_t, const char*, char*, int32_t);
  using Running = int32_t (*)();
  auto cab = reinterpret_cast<Entry>(dlsym(library, "Cab"));
  auto running = reinterpret_cast<Running>(dlsym(library, "CabGetRunning"));
  ASSERT_NE(running, nullptr);
  EXPECT_EQ(running(), 0);

  const std::string line = "-x -o -r \"" + pipePath + "\" \"" + work / "out/\"";
  std::thread worker([&] {
    char output[256] = {};
    cab(0, line.c_str(), output, sizeof output);
  });
  bool seenRunning = false;
  for (int i = 0; i < 1000 && !seenRunning; ++i) {
    seenRunning = running() != 0;
    if (!seenRunning) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // The library may close the pipe before the whole cabinet is written; that must not end the run.
  const auto previousHandler = signal(SIGPIPE, SIG_IGN);
  {
    std::ofstream feed(pipePath, std::ios::binary);
    feed << storedCabinet({{"small.bin", "abc"}});
  }
  worker.join();
  signal(SIGPIPE, previousHandler);
  EXPECT_TRUE(seenRunning);
  EXPECT_EQ(running(), 0);
  dlclose(library);
}

}  // namespace
}  // namespace cabtest
