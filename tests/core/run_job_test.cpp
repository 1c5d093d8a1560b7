// The jobs on the simulated Windows machine, with stand-ins for the archiver libraries: which
// library gets which command line, what is shown, and how a run of several jobs ends.
#include "job/run_job.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "runtime/run_time_error.h"
#include "startup/run_startup.h"
#include "support/simulated_windows.h"
#include "support/thrown.h"

namespace parvo {
namespace {

constexpr char kCab[] = "Cab";
constexpr char kUnlha[] = "Unlha";
constexpr char kUnZip[] = "UnZip";
constexpr char kTar[] = "Tar";
constexpr char kUnArj[] = "UnArj";

// Stand-ins for the archiver libraries on the simulated Windows machine: they record each
// command line and answer with a chosen result and output text.
struct RecordingArchiver {
  struct Call {
    std::string entryPoint;
    std::string commandLine;
    std::int32_t size;
  };
  static inline std::vector<Call> calls;  // CabGetRunning polls included, in order
  static inline std::int32_t result = 0;
  static inline std::string output;
  // Polls of CabGetRunning still to answer "busy".
  static inline int busyPolls = 0;
  // Runs inside each call, e.g. to make the file the call would write.
  static inline std::function<void(const Call&)> onCall;

  static void reset() {
    calls.clear();
    result = 0;
    output.clear();
    busyPolls = 0;
    onCall = nullptr;
  }

  template <const char* Name>
  static std::int32_t entry(std::int32_t, const char* commandLine, char* buffer,
                            std::int32_t size) {
    calls.push_back({Name, commandLine, size});
    if (onCall) onCall(calls.back());
    std::memcpy(buffer, output.data(), std::min<std::size_t>(output.size(), size));
    return result;
  }

  static std::int32_t cabGetRunning() {
    calls.push_back({"CabGetRunning", "", 0});
    if (busyPolls == 0) return 0;
    --busyPolls;
    return 1;
  }

  static void installAll(SimulatedWindows& windows) {
    auto address = [](auto function) { return reinterpret_cast<void*>(function); };
    windows.registerLibrary(
        L"cab32.dll", {{"Cab", address(&entry<kCab>)}, {"CabGetRunning", address(&cabGetRunning)}});
    windows.registerLibrary(L"UNLHA32.DLL", {{"Unlha", address(&entry<kUnlha>)}});
    windows.registerLibrary(L"UNZIP32.DLL", {{"UnZip", address(&entry<kUnZip>)}});
    windows.registerLibrary(L"TAR32.DLL", {{"Tar", address(&entry<kTar>)}});
    windows.registerLibrary(L"UNARJ32.DLL", {{"UnArj", address(&entry<kUnArj>)}});
  }
};

constexpr wchar_t kUnsupported[] = L"この拡張子のファイルは解凍出来ません";
constexpr wchar_t kUnusablePreference[] = L"圧縮DLLの設定にエラーがあります。";
const SettingKey kPreference{L"norrin", L"parvo", L"arcdllselect"};

class JobTest : public ::testing::Test {
 protected:
  JobTest() {
    RecordingArchiver::reset();
    RecordingArchiver::installAll(windows);
  }

  // Drops the path, made a file first unless it stands there.
  JobOutcome drop(const std::wstring& path) {
    if (!windows.findEntryName(path)) windows.addFile(path);
    ArchiverBinding binding(windows);
    return RunJob(windows, binding, path);
  }

  SimulatedWindows windows;
};

// Each extension key, in its three spellings, reaches its library with its command and the
// whole output buffer.
TEST_F(JobTest, EachExtensionKeySelectsItsArchiverAndCommand) {
  const struct {
    std::string extension;
    const char* entryPoint;
    const char* prefix;
  } cases[] = {
      {"cab", "Cab", "-x -o -r "}, {"lzh", "Unlha", "e -rxy "}, {"zip", "UnZip", "-xv "},
      {"tar", "Tar", "-xvf "},     {"arj", "UnArj", "x -u "},
  };
  for (const auto& c : cases) {
    std::string upper = c.extension;
    for (char& character : upper) character = static_cast<char>(std::toupper(character));
    for (const std::string& key :
         {c.extension, upper, upper.substr(0, 1) + c.extension.substr(1)}) {
      SCOPED_TRACE(key);
      // A fresh machine each time: the file system would otherwise report the first spelling.
      windows = SimulatedWindows();
      RecordingArchiver::reset();
      RecordingArchiver::installAll(windows);
      drop(L"C:\\In\\a." + std::wstring(key.begin(), key.end()));
      ASSERT_EQ(RecordingArchiver::calls.size(), 1u);
      EXPECT_EQ(RecordingArchiver::calls[0].entryPoint, c.entryPoint);
      EXPECT_EQ(RecordingArchiver::calls[0].commandLine,
                c.prefix + ("\"C:\\In\\a." + key) + "\" \"C:\\Users\\user\\Desktop\\a\\\"");
      EXPECT_EQ(RecordingArchiver::calls[0].size, 256);
      EXPECT_TRUE(windows.messages().empty());
    }
  }
}

TEST_F(JobTest, OtherExtensionsGetTheMessageAndNoLibraryIsLoaded) {
  for (const wchar_t* file : {L"C:\\Data\\pack.tar.gz", L"C:\\Data\\archive.ZiP",
                              L"C:\\Data\\notes.txt", L"C:\\Data\\zip"}) {
    drop(file);
  }
  EXPECT_TRUE(RecordingArchiver::calls.empty());
  ASSERT_EQ(windows.messages().size(), 4u);
  for (const auto& message : windows.messages()) {
    EXPECT_EQ(message.text, kUnsupported);
    EXPECT_EQ(message.caption, L"PARVO");
  }
  EXPECT_TRUE(windows.loadedLibraries().empty());
}

TEST_F(JobTest, EmptyDesktopPutsTheFolderAtTheDriveRoot) {
  windows.setDesktop(std::nullopt);
  drop(L"C:\\Data\\a.lzh");
  ASSERT_EQ(RecordingArchiver::calls.size(), 1u);
  EXPECT_EQ(RecordingArchiver::calls[0].commandLine, "e -rxy \"C:\\Data\\a.lzh\" \"\\a\\\"");
}

TEST_F(JobTest, LibrariesLoadOnFirstUseAndOnlyWhenNeeded) {
  windows.addFile(L"C:\\Data\\a.zip");
  windows.addFile(L"C:\\Data\\b.zip");
  ArchiverBinding binding(windows);
  RunJob(windows, binding, L"C:\\Data\\a.zip");
  RunJob(windows, binding, L"C:\\Data\\b.zip");
  EXPECT_EQ(windows.loadedLibraries(), std::vector<std::wstring>{L"UNZIP32.DLL"});
  EXPECT_EQ(RecordingArchiver::calls.size(), 2u);
}

// A missing library raises error 48 at the call too: the end-to-end run without libraries shows it.
TEST_F(JobTest, MissingEntryPointRaisesAtTheCall) {
  SimulatedWindows bare;
  bare.registerLibrary(L"UNLHA32.DLL", {});
  bare.addFile(L"C:\\Data\\a.lzh");
  ArchiverBinding binding(bare);
  const RunTimeError error =
      thrown<RunTimeError>([&] { RunJob(bare, binding, L"C:\\Data\\a.lzh"); });
  EXPECT_EQ(error.number(), 453);
  EXPECT_EQ(error.description(), L"Can't find DLL entry point Unlha in UNLHA32.DLL");
}

// Refused before any call, naming the operand at fault: here the destination, not the archive.
TEST_F(JobTest, NameOutsideTheCodePageIsNamedAndNeverPassed) {
  windows.setDesktop(L"C:\\D\u0101");
  drop(L"C:\\In\\b.zip");
  EXPECT_TRUE(RecordingArchiver::calls.empty());
  ASSERT_EQ(windows.messages().size(), 1u);
  EXPECT_EQ(
      windows.messages()[0].text,
      L"This name cannot be passed to the archiver in the system's code page: C:\\D\u0101\\b\\");
}

TEST_F(JobTest, FailureIsShownWithTheArchiversExplanation) {
  RecordingArchiver::result = 3;
  RecordingArchiver::output = "a.zip: CRC mismatch in data.bin";
  drop(L"C:\\Data\\a.zip");
  ASSERT_EQ(windows.messages().size(), 1u);
  EXPECT_EQ(windows.messages()[0].text, L"a.zip: CRC mismatch in data.bin");
  EXPECT_EQ(windows.messages()[0].caption, L"PARVO");

  // A library that fills the whole buffer and says nothing useful still gets a message.
  RecordingArchiver::output = std::string(300, ' ');
  drop(L"C:\\Data\\b.zip");
  ASSERT_EQ(windows.messages().size(), 2u);
  EXPECT_EQ(windows.messages()[1].text, L"The archiver reported error 3.");

  // Success is silent whatever the buffer holds.
  RecordingArchiver::result = 0;
  RecordingArchiver::output = std::string(256, 'x');
  drop(L"C:\\Data\\c.zip");
  EXPECT_EQ(windows.messages().size(), 2u);
}

class CompressFolderTest : public JobTest {
 protected:
  CompressFolderTest() {
    windows.addFolder(L"C:\\Work\\site.old");
    windows.addFolder(L"C:\\Work\\tools");
    // The cabinet step writes the cabinet it names, as the real library would.
    RecordingArchiver::onCall = [this](const RecordingArchiver::Call& call) {
      if (call.entryPoint != "Cab" || !call.commandLine.starts_with("-a ")) return;
      const std::size_t open = call.commandLine.find('"');
      const std::string path =
          call.commandLine.substr(open + 1, call.commandLine.find('"', open + 1) - open - 1);
      if (RecordingArchiver::result == 0) windows.addFile(std::wstring(path.begin(), path.end()));
    };
  }

  std::vector<std::string> commandLines() const {
    std::vector<std::string> lines;
    for (const auto& call : RecordingArchiver::calls) {
      lines.push_back(call.entryPoint == "CabGetRunning" ? "?" : call.commandLine);
    }
    return lines;
  }
};

// Each code packs the folder from inside it, which stays the current directory for the jobs
// after it; any other code is told and packs nothing.
TEST_F(CompressFolderTest, EachPreferencePacksTheFolderFromInsideIt) {
  const struct {
    const wchar_t* stored;
    const wchar_t* folder;
    const wchar_t* storedFolder;
    std::string call;  // entry point and command line; none for a code that is refused
  } cases[] = {
      {L"cab  ", L"C:\\Work\\site.old", L"C:\\Work\\site.old",
       "Cab -a -r -ml:21 \"C:\\Users\\user\\Desktop\\site.cab\" *.*"},
      {L"lha  ", L"C:\\WORK\\TOOLS", L"C:\\Work\\tools",
       "Unlha a -rx \"C:\\Users\\user\\Desktop\\tools.lzh\" *.*"},
      {L"CAB  ", L"C:\\Work\\tools", L"C:\\Work\\tools", ""},
      {L"lzh  ", L"C:\\Work\\tools", L"C:\\Work\\tools", ""},
      {L"zip", L"C:\\Work\\tools", L"C:\\Work\\tools", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    RecordingArchiver::calls.clear();
    windows.setSetting(kPreference, c.stored);
    const std::size_t shown = windows.messages().size();
    EXPECT_EQ(drop(c.folder), c.call.empty() ? JobOutcome::kMessageShown : JobOutcome::kCompleted);
    std::vector<std::string> calls;
    for (const auto& call : RecordingArchiver::calls) {
      calls.push_back(call.entryPoint + " " + call.commandLine);
    }
    EXPECT_EQ(calls, c.call.empty() ? std::vector<std::string>{} : std::vector{c.call});
    EXPECT_EQ(windows.currentDirectory(), c.storedFolder);
    ASSERT_EQ(windows.messages().size(), shown + (c.call.empty() ? 1 : 0));
    if (c.call.empty()) {
      EXPECT_EQ(windows.messages().back().text, kUnusablePreference);
    }
  }
}

TEST_F(CompressFolderTest, SelfExtractingWaitsForTheLibraryAndCleansUp) {
  RecordingArchiver::onCall = [this, make = RecordingArchiver::onCall](const auto& call) {
    make(call);
    RecordingArchiver::busyPolls = 2;
    // The cabinet is still there when the conversion asks for it.
    if (call.commandLine.starts_with("-f ")) {
      EXPECT_EQ(
          windows.fileAttributes(L"C:\\Users\\user\\AppData\\Local\\Temp\\parvo-1\\tools.cab") &
              kDirectoryAttribute,
          0u);
    }
  };
  const int pumpsBefore = windows.pumpCount();
  EXPECT_EQ(drop(L"C:\\Work\\tools"), JobOutcome::kCompleted);
  const std::string cabinet = "\"C:\\Users\\user\\AppData\\Local\\Temp\\parvo-1\\tools.cab\"";
  EXPECT_EQ(commandLines(),
            (std::vector<std::string>{"-a -r -ml:21 " + cabinet + " *.*", "?", "?", "?",
                                      "-f " + cabinet + " \"C:\\Users\\user\\Desktop\\\"", "?", "?",
                                      "?"}));
  EXPECT_EQ(windows.pumpCount() - pumpsBefore, 4 + 6);  // two busy polls per wait, leaf scan
  EXPECT_FALSE(windows.findEntryName(L"C:\\Users\\user\\AppData\\Local\\Temp\\parvo-1"));
}

TEST_F(CompressFolderTest, FailedCabinetStepSkipsConversionAndStillRemovesTheFolder) {
  RecordingArchiver::result = 5;
  RecordingArchiver::output = "cannot read secret.txt";
  EXPECT_EQ(drop(L"C:\\Work\\tools"), JobOutcome::kMessageShown);
  EXPECT_EQ(RecordingArchiver::calls.size(), 1u);
  ASSERT_EQ(windows.messages().size(), 1u);
  EXPECT_EQ(windows.messages()[0].text, L"cannot read secret.txt");
  EXPECT_FALSE(windows.findEntryName(L"C:\\Users\\user\\AppData\\Local\\Temp\\parvo-1"));
}

// A cabinet written without some of the folder still becomes the program; what was left out is
// told once the program is there and the cabinet gone. In the other modes it is told at once.
TEST_F(CompressFolderTest, WhatTheCabinetLeftOutIsToldAfterTheConversion) {
  RecordingArchiver::result = kArchivedWithOmissions;
  RecordingArchiver::output = "1 item was left out of the archive: link to nothing: a";
  RecordingArchiver::onCall = [this, make = RecordingArchiver::onCall](const auto& call) {
    make(call);
    windows.addFile(L"C:\\Users\\user\\AppData\\Local\\Temp\\parvo-1\\tools.cab");
    EXPECT_TRUE(windows.messages().empty()) << call.commandLine;
    if (!call.commandLine.starts_with("-f ")) return;
    RecordingArchiver::result = 0;
    RecordingArchiver::output = "tools.run written";
  };
  EXPECT_EQ(drop(L"C:\\Work\\tools"), JobOutcome::kMessageShown);
  ASSERT_EQ(commandLines().size(), 4u);
  EXPECT_TRUE(commandLines()[2].starts_with("-f "));
  ASSERT_EQ(windows.messages().size(), 1u);
  EXPECT_EQ(windows.messages()[0].text, L"1 item was left out of the archive: link to nothing: a");
  EXPECT_FALSE(windows.findEntryName(L"C:\\Users\\user\\AppData\\Local\\Temp\\parvo-1"));

  windows.setSetting(kPreference, L"cab  ");
  RecordingArchiver::result = kArchivedWithOmissions;
  RecordingArchiver::onCall = nullptr;
  EXPECT_EQ(drop(L"C:\\Work\\tools"), JobOutcome::kMessageShown);
  EXPECT_EQ(windows.messages().size(), 2u);
}

// Jobs run in order; one ending in a message makes the run fail but does not stop it.
TEST_F(JobTest, AJobEndingInAMessageMakesTheRunFailButNotStop) {
  for (const wchar_t* file :
       {L"C:\\In\\a.zip", L"C:\\In\\b.zip", L"C:\\In\\notes.txt", L"C:\\In\\..."}) {
    windows.addFile(file);
  }
  const struct {
    const wchar_t* arguments;
    std::int32_t archiverResult;
    const wchar_t* message;
    int exitStatus;
    std::size_t calls;
  } cases[] = {
      {L"C:\\In\\a.zip C:\\In\\b.zip", 0, nullptr, kExitSuccess, 2},
      {L"C:\\In\\a.zip C:\\In\\b.zip", 3, L"damaged", kExitJobFailed, 2},
      {L"C:\\In\\... C:\\In\\b.zip", 0, L"この名前のファイルは処理出来ません", kExitJobFailed, 1},
      {L"C:\\In\\a.zip C:\\In\\notes.txt\tC:\\In\\b.zip", 0,
       L"この拡張子のファイルは解凍出来ません", kExitJobFailed, 2},
  };
  for (const auto& c : cases) {
    RecordingArchiver::reset();
    RecordingArchiver::result = c.archiverResult;
    RecordingArchiver::output = "damaged";
    const std::size_t shownBefore = windows.messages().size();
    windows.setArgumentText(c.arguments);
    EXPECT_EQ(RunProgram(windows), c.exitStatus) << c.arguments;
    ASSERT_EQ(RecordingArchiver::calls.size(), c.calls) << c.arguments;
    EXPECT_NE(RecordingArchiver::calls.front().commandLine.find(c.calls == 2 ? "a.zip" : "b.zip"),
              std::string::npos);
    EXPECT_NE(RecordingArchiver::calls.back().commandLine.find("b.zip"), std::string::npos);
    if (c.message == nullptr) {
      EXPECT_EQ(windows.messages().size(), shownBefore);
    } else {
      ASSERT_GT(windows.messages().size(), shownBefore);
      EXPECT_EQ(windows.messages()[shownBefore].text, c.message);
    }
  }
}

}  // namespace
}  // namespace parvo
