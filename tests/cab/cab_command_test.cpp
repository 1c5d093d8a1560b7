#include <dlfcn.h>
#include <signal.h>
#include <sys/resource.h>

#include "stored_cabinet.h"
#include "support/archiver_library.h"
#include "support/temporary_folder.h"

namespace cabtest {
namespace {

// The command lines it refuses outright are in hostile_input_test.cpp.
TEST(CabCommand, PackingNeedsTheFolderAndConversionAnExistingCabinet) {
  TemporaryFolder work;
  EXPECT_EQ(callArchiver(kCab, "-a -r -ml:21 \"" + work / "out.cab\" a.txt").code, kUnsupported);
  EXPECT_EQ(callArchiver(kCab, "-f \"" + work / "x.cab\" \"" + work / "d/\"").code, kCannotOpen);
}

using Running = int32_t (*)();
Running runningProbe = nullptr;
volatile sig_atomic_t runningWhileWriting = -1;

TEST(CabCommand, ReportsRunningOnlyDuringAnOperation) {
  // With a file size limit of zero the library's first write raises SIGXFSZ on this thread, in
  // the middle of the operation: the handler asks then whether an operation is running.
  TemporaryFolder work;
  writeFile(work / "small.cab", storedCabinet({{"small.bin", "abc"}}));
  void* library = dlopen((std::string(PARVO_LIBRARY_DIR) + "/libcab32.so").c_str(), RTLD_NOW);
  ASSERT_NE(library, nullptr);
  runningProbe = reinterpret_cast<Running>(dlsym(library, "CabGetRunning"));
  ASSERT_NE(runningProbe, nullptr);
  EXPECT_EQ(runningProbe(), 0);

  std::filesystem::create_directories(work.path() / "out");  // -f writes into an existing folder
  for (const std::string& line : {"-x -o -r \"" + work / "small.cab" + "\" \"" + work / "out/\"",
                                  "-f \"" + work / "small.cab" + "\" \"" + work / "out/\""}) {
    SCOPED_TRACE(line);
    runningWhileWriting = -1;
    struct sigaction probe {
    }, previousAction{};
    probe.sa_handler = [](int) { runningWhileWriting = runningProbe(); };
    sigaction(SIGXFSZ, &probe, &previousAction);
    rlimit previousLimit{};
    getrlimit(RLIMIT_FSIZE, &previousLimit);
    rlimit noFileData = previousLimit;
    noFileData.rlim_cur = 0;
    setrlimit(RLIMIT_FSIZE, &noFileData);
    const ArchiverResult result = callArchiver(kCab, line);  // the library loaded here
    setrlimit(RLIMIT_FSIZE, &previousLimit);
    sigaction(SIGXFSZ, &previousAction, nullptr);

    EXPECT_EQ(result.code, kWriteFailed) << result.output;
    EXPECT_EQ(runningWhileWriting, 1);
  }
  EXPECT_EQ(runningProbe(), 0);
  dlclose(library);
}

}  // namespace
}  // namespace cabtest
