#include <gtest/gtest.h>

#include "job/run_job.h"
#include "runtime/run_time_error.h"
#include "support/simulated_windows.h"
#include "support/thrown.h"

namespace parvo {
namespace {

class PrepareJobTest : public ::testing::Test {
 protected:
  PrepareJobTest() {
    windows.addFile(L"C:\\Program Files\\Tools\\Data File.zip");
    windows.setShortName(L"C:\\Program Files", L"PROGRA~1");
    windows.setShortName(L"C:\\Program Files\\Tools\\Data File.zip", L"DATAFI~1.ZIP");
    windows.addFile(L"C:\\Data Files\\A.ZIP");
    windows.setShortName(L"C:\\Data Files", L"DATAFI~1");
    windows.addFolder(L"C:\\Data");
    windows.addFile(L"C:\\Work\\secret.zip", SimulatedWindows::kHidden | SimulatedWindows::kSystem);
  }

  int errorOf(const std::wstring& argument) {
    return thrown<RunTimeError>([&] { PrepareJob(windows, argument); }).number();
  }

  SimulatedWindows windows;
};

TEST_F(PrepareJobTest, ShortPathExpandsToStoredLongNamesKeepingTheDrive) {
  const PreparedJob job = PrepareJob(windows, L"c:\\PROGRA~1\\TOOLS\\DATAFI~1.ZIP");
  EXPECT_EQ(job.context.sourcePath, L"c:\\Program Files\\Tools\\Data File.zip");
  EXPECT_EQ(job.context.baseName, L"Data File");
  EXPECT_FALSE(job.isFolder);
  EXPECT_EQ(job.context.outputBuffer, std::wstring(256, L'\0'));
  EXPECT_EQ(job.context.formatCode, L"cabex");
  EXPECT_EQ(job.context.desktopPath, L"C:\\Users\\user\\Desktop");
  // The leaf scan services messages once per character it looks at.
  EXPECT_EQ(windows.pumpCount(), static_cast<int>(std::wstring(L"Data File.zip").size()) + 1);
}

// An unquoted path is looked up ignoring case, hidden and system entries too, and expanded to
// the stored names (dropping repeated and trailing separators); a quoted one loses its first and
// last characters, whatever they are, and nothing else. The base name stops at the first dot
// after any leading dots.
TEST_F(PrepareJobTest, PathIsExpandedOrUnquotedAndNamed) {
  const struct {
    const wchar_t* argument;
    const wchar_t* sourcePath;
    const wchar_t* baseName;
    bool isFolder = false;
  } cases[] = {
      {L"C:\\program files\\TOOLS", L"C:\\Program Files\\Tools", L"Tools", true},
      {L"C:\\WORK\\SECRET.ZIP", L"C:\\Work\\secret.zip", L"secret"},
      {L"c:\\data\\\\archive.tar\\", L"c:\\Data\\archive.tar", L"archive"},
      {L"\"C:\\DATAFI~1\\A.ZIP\"", L"C:\\DATAFI~1\\A.ZIP", L"A"},
      {L"xC:\\Data\\a\"b.zipy", L"C:\\Data\\a\"b.zip", L"a\"b"},
      {L"\"C:\\Data\\\"", L"C:\\Data\\", L"Data\\", true},
      {L"C:\\Data\\a.b.c", L"C:\\Data\\a.b.c", L"a"},
      {L"C:\\Data\\noext", L"C:\\Data\\noext", L"noext"},
      {L"C:\\Data\\.profile", L"C:\\Data\\.profile", L"profile"},
      {L"C:\\Data\\.backup.zip", L"C:\\Data\\.backup.zip", L"backup"},
      {L"C:\\Data\\..zip", L"C:\\Data\\..zip", L"zip"},
      {L"C:\\Data\\...", L"C:\\Data\\...", L""},
      {L"C:\\Work\\.config", L"C:\\Work\\.config", L"config", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.argument);
    if (!windows.findEntryName(c.sourcePath)) {
      c.isFolder ? windows.addFolder(c.sourcePath) : windows.addFile(c.sourcePath);
    }
    const PreparedJob job = PrepareJob(windows, c.argument);
    EXPECT_EQ(job.context.sourcePath, c.sourcePath);
    EXPECT_EQ(job.context.baseName, c.baseName);
    EXPECT_EQ(job.isFolder, c.isFolder);
  }
}

TEST_F(PrepareJobTest, EachFailingStepRaisesItsError) {
  EXPECT_EQ(errorOf(L"\""), kInvalidProcedureCall);                     // quote stripping
  EXPECT_EQ(errorOf(L"\"\""), kInvalidProcedureCall);                   // leaf scan of ""
  EXPECT_EQ(errorOf(L"ab\"cd"), kInvalidProcedureCall);                 // leaf scan of b"c
  EXPECT_EQ(errorOf(L"C:\\Data\\missing.zip"), kInvalidProcedureCall);  // not expanded
  EXPECT_EQ(errorOf(L"\"C:\\Data\\missing.zip\""), kFileNotFound);
  EXPECT_EQ(errorOf(L"\"C:\\Nowhere\\missing.zip\""), kPathNotFound);
  EXPECT_EQ(errorOf(L"\"D:\\x\\missing.zip\""), kPathNotFound);

  const std::wstring deep = L"C:\\" + std::wstring(40000, L'a') + L"\\b.zip";
  EXPECT_EQ(errorOf(deep), kOverflow);
}

}  // namespace
}  // namespace parvo
