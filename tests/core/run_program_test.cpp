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

TEST_F(RunProgramTest, EmptyTextShowsTheDialogBlankTextDoesNothing) {
  windows.setArgumentText(L"");
  EXPECT_EQ(RunProgram(windows), 0);
  EXPECT_EQ(windows.dialogsShown(), 1);

  windows.setArgumentText(L" \t ");
  EXPECT_EQ(RunProgram(windows), 0);
  EXPECT_EQ(windows.dialogsShown(), 1);
  EXPECT_TRUE(windows.messages().empty());
  EXPECT_TRUE(RecordingArchiver::calls.empty());
}

TEST_F(RunProgramTest, JobsRunInOrderAndAMessageDoesNotStopTheRun) {
  windows.setArgumentText(L"C:\\In\\a.zip C:\\In\\notes.txt\tC:\\In\\b.zip");
  EXPECT_EQ(RunProgram(windows), 0);
  ASSERT_EQ(RecordingArchiver::calls.size(), 2u);
  EXPECT_NE(RecordingArchiver::calls[0].commandLine.find("a.zip"), std::string::npos);
  EXPECT_NE(RecordingArchiver::calls[1].commandLine.find("b.zip"), std::string::npos);
  EXPECT_EQ(windows.messages().size(), 1u);
}

TEST_F(RunProgramTest, RunTimeErrorIsShownAndEndsTheRun) {
  windows.setArgumentText(L"C:\\In\\a.zip \"C:\\In\\missing.zip\" C:\\In\\b.zip");
  EXPECT_EQ(RunProgram(windows), 1);
  EXPECT_EQ(RecordingArchiver::calls.size(), 1u);
  ASSERT_EQ(windows.messages().size(), 1u);
  EXPECT_EQ(windows.messages()[0].text, L"Run-time error '53':\n\nFile not found");
  EXPECT_EQ(windows.messages()[0].caption, L"PARVO");
}

TEST_F(RunProgramTest, QuotedPathWithBlanksReachesTheJobWhole) {
  windows.addFile(L"C:\\My Files\\a b.zip");
  windows.setArgumentText(L"\"C:\\My Files\\a b.zip\"");
  EXPECT_EQ(RunProgram(windows), 0);
  ASSERT_EQ(RecordingArchiver::calls.size(), 1u);
  EXPECT_EQ(RecordingArchiver::calls[0].commandLine,
            "-xv \"C:\\My Files\\a b.zip\" \"C:\\Users\\user\\Desktop\\a b\\\"");
}

}  // namespace
}  // namespace parvo
