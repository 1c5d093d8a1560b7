#include <gtest/gtest.h>

#include "job/run_job.h"
#include "support/simulated_windows.h"
#include "support/thrown.h"

namespace parvo {
namespace {

// An unquoted path is looked up ignoring case, through 8.3 aliases, and expanded to the stored
// names (dropping repeated and trailing separators) keeping the drive as given; a quoted one loses
// its first and last characters, whatever they are, and nothing else. The base name stops at the
// first dot after any leading dots.
TEST(PrepareJob, PathIsExpandedOrUnquotedAndNamed) {
  SimulatedWindows windows;
  windows.addFile(L"C:\\Program Files\\Tools\\Data File.zip");
  windows.setShortName(L"C:\\Program Files", L"PROGRA~1");
  windows.setShortName(L"C:\\Program Files\\Tools\\Data File.zip", L"DATAFI~1.ZIP");
  const struct {
    const wchar_t* argument;
    const wchar_t* sourcePath;
    const wchar_t* baseName;
    bool isFolder = false;
  } cases[] = {
      {L"c:\\PROGRA~1\\TOOLS\\DATAFI~1.ZIP", L"c:\\Program Files\\Tools\\Data File.zip",
       L"Data File"},
      {L"C:\\program files\\TOOLS", L"C:\\Program Files\\Tools", L"Tools", true},
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

TEST(PrepareJob, EachFailingStepRaisesItsError) {
  const std::pair<std::wstring, int> cases[] = {
      {L"\"", kInvalidProcedureCall},                     // quote stripping
      {L"\"\"", kInvalidProcedureCall},                   // leaf scan of ""
      {L"ab\"cd", kInvalidProcedureCall},                 // leaf scan of b"c
      {L"C:\\Data\\missing.zip", kInvalidProcedureCall},  // not expanded
      {L"\"C:\\Data\\missing.zip\"", kFileNotFound},
      {L"\"C:\\Nowhere\\missing.zip\"", kPathNotFound},
      {L"\"D:\\x\\missing.zip\"", kPathNotFound},
      {L"C:\\" + std::wstring(40000, L'a') + L"\\b.zip", kOverflow},
  };
  SimulatedWindows windows;
  windows.addFolder(L"C:\\Data");
  for (const auto& [argument, error] : cases) {
    EXPECT_EQ(thrown<RunTimeError>([&] { PrepareJob(windows, argument); }).number(), error)
        << argument.substr(0, 40);
  }
}

}  // namespace
}  // namespace parvo
