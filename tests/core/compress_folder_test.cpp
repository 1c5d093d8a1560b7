#include "job/compress_folder.h"

#include <gtest/gtest.h>

#include "job/run_job.h"
#include "recording_archiver.h"

namespace parvo {
namespace {

constexpr wchar_t kUnusablePreference[] = L"圧縮DLLの設定にエラーがあります。";
const SettingKey kPreference{L"norrin", L"parvo", L"arcdllselect"};

class CompressFolderTest : public ::testing::Test {
 protected:
  CompressFolderTest() {
    RecordingArchiver::reset();
    RecordingArchiver::installAll(windows);
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

  JobOutcome drop(const std::wstring& folder) {
    ArchiverBinding binding(windows);
    return RunJob(windows, binding, folder);
  }

  std::vector<std::string> commandLines() const {
    std::vector<std::string> lines;
    for (const auto& call : RecordingArchiver::calls) {
      lines.push_back(call.entryPoint == "CabGetRunning" ? "?" : call.commandLine);
    }
    return lines;
  }

  SimulatedWindows windows;
};

TEST_F(CompressFolderTest, EachPreferencePacksTheFolderFromInsideIt) {
  const struct {
    const wchar_t* stored;
    const wchar_t* folder;
    const wchar_t* storedFolder;
    std::string entryPoint;
    std::string commandLine;
  } cases[] = {
      {L"cab  ", L"C:\\Work\\site.old", L"C:\\Work\\site.old", "Cab",
       "-a -r -ml:21 \"C:\\Users\\user\\Desktop\\site.cab\" *.*"},
      {L"lha  ", L"C:\\WORK\\TOOLS", L"C:\\Work\\tools", "Unlha",
       "a -rx \"C:\\Users\\user\\Desktop\\tools.lzh\" *.*"},
  };
  for (const auto& c : cases) {
    RecordingArchiver::calls.clear();
    windows.setSetting(kPreference, c.stored);
    EXPECT_EQ(drop(c.folder), JobOutcome::kCompleted);
    ASSERT_EQ(RecordingArchiver::calls.size(), 1u) << c.commandLine;
    EXPECT_EQ(RecordingArchiver::calls[0].entryPoint, c.entryPoint);
    EXPECT_EQ(RecordingArchiver::calls[0].commandLine, c.commandLine);
    // The folder stays the current directory for the jobs after it.
    EXPECT_EQ(windows.currentDirectory(), c.storedFolder);
  }
  EXPECT_TRUE(windows.messages().empty());
}

TEST_F(CompressFolderTest, SelfExtractingWaitsForTheLibraryAndCleansUp) {
  RecordingArchiver::busyPollsAfterCall = 2;
  RecordingArchiver::onCall = [this, make = RecordingArchiver::onCall](const auto& call) {
    make(call);
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

TEST_F(CompressFolderTest, AnyOtherCodeShowsTheMessageAndPacksNothing) {
  for (const wchar_t* stored : {L"CAB  ", L"lzh  ", L"zip"}) {
    windows.setSetting(kPreference, stored);
    EXPECT_EQ(drop(L"C:\\Work\\tools"), JobOutcome::kMessageShown);
  }
  EXPECT_TRUE(RecordingArchiver::calls.empty());
  ASSERT_EQ(windows.messages().size(), 3u);
  EXPECT_EQ(windows.messages()[2].text, kUnusablePreference);
  EXPECT_EQ(windows.messages()[2].caption, L"PARVO");
}

}  // namespace
}  // namespace parvo
