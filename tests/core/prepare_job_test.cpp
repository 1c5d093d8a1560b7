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
    windows.addFile(L"C:\\Data\\archive.tar");
    windows.addFile(L"C:\\Data\\a\"b.zip");
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

TEST_F(PrepareJobTest, LookupIgnoresCaseAndFindsHiddenAndSystemEntries) {
  EXPECT_EQ(PrepareJob(windows, L"C:\\program files\\TOOLS").context.sourcePath,
            L"C:\\Program Files\\Tools");
  EXPECT_TRUE(PrepareJob(windows, L"C:\\program files\\TOOLS").isFolder);
  EXPECT_EQ(PrepareJob(windows, L"C:\\WORK\\SECRET.ZIP").context.sourcePath,
            L"C:\\Work\\secret.zip");
}

TEST_F(PrepareJobTest, QuotedPathIsStrippedButNotExpanded) {
  EXPECT_EQ(PrepareJob(windows, L"\"C:\\DATAFI~1\\A.ZIP\"").context.sourcePath,
            L"C:\\DATAFI~1\\A.ZIP");

  // The first and last characters go whatever they are.
  EXPECT_EQ(PrepareJob(windows, L"xC:\\Data\\a\"b.zipy").context.sourcePath, L"C:\\Data\\a\"b.zip");
}

TEST_F(PrepareJobTest, TrailingBackslashStaysInTheQuotedLeaf) {
  const PreparedJob quoted = PrepareJob(windows, L"\"C:\\Data\\\"");
  EXPECT_EQ(quoted.context.sourcePath, L"C:\\Data\\");
  EXPECT_EQ(quoted.context.baseName, L"Data\\");
  EXPECT_TRUE(quoted.isFolder);

  // Unquoted, the expansion drops repeated and trailing separators.
  const PreparedJob unquoted = PrepareJob(windows, L"c:\\data\\\\archive.tar\\");
  EXPECT_EQ(unquoted.context.sourcePath, L"c:\\Data\\archive.tar");
}

TEST_F(PrepareJobTest, BaseNameStopsAtTheFirstDotAfterLeadingDots) {
  const struct {
    const wchar_t* path;
    const wchar_t* baseName;
  } cases[] = {
      {L"C:\\Data\\archive.tar", L"archive"},
      {L"C:\\Data\\a.b.c", L"a"},
      {L"C:\\Data\\noext", L"noext"},
      {L"C:\\Data\\.profile", L"profile"},
      {L"C:\\Data\\.backup.zip", L"backup"},
      {L"C:\\Data\\..zip", L"zip"},
      {L"C:\\Data\\...", L""},
      {L"C:\\Work\\.config", L"config"},
  };
  for (const auto& c : cases) {
    // Those in C:\Work are folders.
    std::wstring(c.path).starts_with(L"C:\\Work") ? windows.addFolder(c.path)
                                                  : windows.addFile(c.path);
    EXPECT_EQ(PrepareJob(windows, c.path).context.baseName, c.baseName) << c.path;
  }
  EXPECT_TRUE(PrepareJob(windows, L"C:\\Work\\.config").isFolder);
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
