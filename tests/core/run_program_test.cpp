#include <gtest/gtest.h>

#include "recording_archiver.h"
#include "startup/run_startup.h"

namespace parvo {
namespace {

class RunProgramTest : public ::testing::Test {
 protected:
  RunProgramTest() {
    RecordingArchiver::reset();
    RecordingArchiver::installAll(windows);
    windows.addFile(L"C:\\In\\a.zip");
    windows.addFile(L"C:\\In\\b.zip");
    windows.addFile(L"C:\\In\\notes.txt");
  }
  SimulatedWindows windows;
};

// Jobs run in order; one ending in a message makes the run fail but does not stop it.
TEST_F(RunProgramTest, AJobEndingInAMessageMakesTheRunFailButNotStop) {
  windows.addFile(L"C:\\In\\...");
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
