#include "job/extract_archive.h"

#include <gtest/gtest.h>

#include "job/run_job.h"
#include "recording_archiver.h"
#include "runtime/run_time_error.h"
#include "support/thrown.h"

namespace parvo {
namespace {

constexpr wchar_t kUnsupported[] = L"この拡張子のファイルは解凍出来ません";

class ExtractArchiveTest : public ::testing::Test {
 protected:
  ExtractArchiveTest() {
    RecordingArchiver::reset();
    RecordingArchiver::installAll(windows);
  }

  void drop(const std::wstring& path) {
    windows.addFile(path);
    ArchiverBinding binding(windows);
    RunJob(windows, binding, path);
  }

  SimulatedWindows windows;
};

// Each extension key, in its three spellings, reaches its library with its command and the
// whole output buffer.
TEST_F(ExtractArchiveTest, EachExtensionKeySelectsItsArchiverAndCommand) {
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

TEST_F(ExtractArchiveTest, OtherExtensionsGetTheMessageAndNoLibraryIsLoaded) {
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

TEST_F(ExtractArchiveTest, EmptyDesktopPutsTheFolderAtTheDriveRoot) {
  windows.setDesktop(std::nullopt);
  drop(L"C:\\Data\\a.lzh");
  ASSERT_EQ(RecordingArchiver::calls.size(), 1u);
  EXPECT_EQ(RecordingArchiver::calls[0].commandLine, "e -rxy \"C:\\Data\\a.lzh\" \"\\a\\\"");
}

TEST_F(ExtractArchiveTest, LibrariesLoadOnFirstUseAndOnlyWhenNeeded) {
  windows.addFile(L"C:\\Data\\a.zip");
  windows.addFile(L"C:\\Data\\b.zip");
  ArchiverBinding binding(windows);
  RunJob(windows, binding, L"C:\\Data\\a.zip");
  RunJob(windows, binding, L"C:\\Data\\b.zip");
  EXPECT_EQ(windows.loadedLibraries(), std::vector<std::wstring>{L"UNZIP32.DLL"});
  EXPECT_EQ(RecordingArchiver::calls.size(), 2u);
}

// A missing library raises error 48 at the call too: the end-to-end run without libraries shows it.
TEST_F(ExtractArchiveTest, MissingEntryPointRaisesAtTheCall) {
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
TEST_F(ExtractArchiveTest, NameOutsideTheCodePageIsNamedAndNeverPassed) {
  windows.setDesktop(L"C:\\D\u0101");
  drop(L"C:\\In\\b.zip");
  EXPECT_TRUE(RecordingArchiver::calls.empty());
  ASSERT_EQ(windows.messages().size(), 1u);
  EXPECT_EQ(
      windows.messages()[0].text,
      L"This name cannot be passed to the archiver in the system's code page: C:\\D\u0101\\b\\");
}

TEST_F(ExtractArchiveTest, FailureIsShownWithTheArchiversExplanation) {
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

}  // namespace
}  // namespace parvo
