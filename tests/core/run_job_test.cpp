// The run on the simulated Windows machine, with stand-ins for the archiver libraries.
#include "job/run_job.h"

#include <gtest/gtest.h>

#include <cstring>

#include "settings/format_preference.h"
#include "settings/settings_dialog.h"
#include "startup/run_startup.h"
#include "startup/split_arguments.h"
#include "support/simulated_windows.h"
#include "support/thrown.h"

namespace parvo {
namespace {

// Blanks and tabs separate, never giving an empty entry; a quote toggles grouping wherever it
// stands and stays in the path, and an unbalanced one groups the rest of the text.
TEST(SplitArguments, BlanksSeparateAndQuotesGroupStayingInThePath) {
  const std::pair<const wchar_t*, std::vector<std::wstring>> cases[] = {
      {L"a.zip    b.lzh", {L"a.zip", L"b.lzh"}},
      {L" \t a.zip\tb.lzh \t", {L"a.zip", L"b.lzh"}},
      {L"  \t  ", {}},
      {L"\"C:\\My Files\\a b.zip\" C:\\x.lzh", {L"\"C:\\My Files\\a b.zip\"", L"C:\\x.lzh"}},
      {L"\"a\tb\"", {L"\"a\tb\""}},
      {L"ab\"c d\"e f", {L"ab\"c d\"e", L"f"}},
      {L"\"a b c", {L"\"a b c"}},
      {L"\"\" x", {L"\"\"", L"x"}},
  };
  for (const auto& [text, paths] : cases) EXPECT_EQ(SplitArguments(text), paths) << text;
}

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

constexpr const char* kEntryPoints[] = {"Cab", "Unlha", "UnZip", "Tar", "UnArj"};

constexpr wchar_t kUnsupported[] = L"この拡張子のファイルは解凍出来ません";
const std::wstring kPrivate = L"C:\\Users\\user\\AppData\\Local\\Temp\\parvo-1";
const SettingKey kPreference{L"norrin", L"parvo", L"arcdllselect"};
using Message = SimulatedWindows::Message;

class JobTest : public ::testing::Test {
 protected:
  template <int Index>
  static std::int32_t entry(std::int32_t, const char* commandLine, char* buffer,
                            std::int32_t size) {
    const std::string line = commandLine;
    current->calls.push_back(kEntryPoints[Index] + (" " + line));
    current->bufferSize = size;
    if (line.starts_with("-a -r -ml:21 \"")) {
      const std::string cabinet = line.substr(14, line.find('"', 14) - 14);
      current->windows.addFile(std::wstring(cabinet.begin(), cabinet.end()));
    }
    if (current->onCall) current->onCall(commandLine);
    const std::string& output = current->output;
    std::memcpy(buffer, output.data(), std::min<std::size_t>(output.size(), size));
    return current->result;
  }

  static std::int32_t cabGetRunning() {
    current->calls.push_back("?");
    return current->busyPolls > 0 ? current->busyPolls-- : 0;
  }

  JobTest() {
    current = this;
    auto address = [](auto function) { return reinterpret_cast<void*>(function); };
    windows.registerLibrary(
        L"cab32.dll", {{"Cab", address(&entry<0>)}, {"CabGetRunning", address(&cabGetRunning)}});
    windows.registerLibrary(L"UNLHA32.DLL", {{"Unlha", address(&entry<1>)}});
    windows.registerLibrary(L"UNZIP32.DLL", {{"UnZip", address(&entry<2>)}});
    windows.registerLibrary(L"TAR32.DLL", {{"Tar", address(&entry<3>)}});
    windows.registerLibrary(L"UNARJ32.DLL", {{"UnArj", address(&entry<4>)}});
  }

  JobOutcome drop(const std::wstring& path) {
    if (!windows.findEntryName(path)) windows.addFile(path);
    return RunJob(windows, binding, path);
  }

  SimulatedWindows windows;
  ArchiverBinding binding{windows};
  // The stand-ins record each call as "Entry command line" ("?" for a poll of CabGetRunning) and
  // answer with the chosen result and output text; "Cab -a" writes the cabinet it names.
  std::vector<std::string> calls;
  std::int32_t bufferSize = 0;
  std::int32_t result = 0;
  std::string output;
  int busyPolls = 0;
  std::function<void(const std::string&)> onCall;
  static inline JobTest* current = nullptr;  // the stand-ins' test
};

// Other extensions get the message and no library is loaded; each extension key, in its three
// spellings, reaches its library (loaded once) with its command and the whole output buffer.
TEST_F(JobTest, EachExtensionKeySelectsItsArchiverAndCommand) {
  for (const wchar_t* file : {L"C:\\Data\\pack.tar.gz", L"C:\\Data\\archive.ZiP",
                              L"C:\\Data\\notes.txt", L"C:\\Data\\zip"}) {
    drop(file);
  }
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(windows.loadedLibraries.empty());
  EXPECT_EQ(windows.messages, std::vector(4, Message{kUnsupported, L"PARVO"}));
  const std::pair<std::string, const char*> cases[] = {
      {"cab", "Cab -x -o -r "}, {"lzh", "Unlha e -rxy "}, {"zip", "UnZip -xv "},
      {"tar", "Tar -xvf "},     {"arj", "UnArj x -u "},
  };
  int file = 0;
  for (const auto& [extension, prefix] : cases) {
    std::string upper = extension;
    for (char& character : upper) character = static_cast<char>(std::toupper(character));
    for (const std::string& key : {extension, upper, upper.substr(0, 1) + extension.substr(1)}) {
      SCOPED_TRACE(key);
      calls.clear();
      // A new name each time: the file system would otherwise report the first spelling.
      const std::string name = "a" + std::to_string(++file);
      drop(fromUtf8("C:\\In\\" + name + "." + key));
      EXPECT_EQ(calls, std::vector<std::string>{prefix + ("\"C:\\In\\" + name + "." + key) +
                                                "\" \"C:\\Users\\user\\Desktop\\" + name + "\\\""});
      EXPECT_EQ(bufferSize, 256);
    }
  }
  EXPECT_EQ(windows.messages.size(), 4u);
  EXPECT_EQ(windows.loadedLibraries,
            (std::vector<std::wstring>{L"cab32.dll", L"UNLHA32.DLL", L"UNZIP32.DLL", L"TAR32.DLL",
                                       L"UNARJ32.DLL"}));
}

// A missing library raises error 48 at the call too: the end-to-end run without libraries shows it.
TEST_F(JobTest, MissingEntryPointRaisesAtTheCall) {
  windows.registerLibrary(L"UNLHA32.DLL", {});
  const RunTimeError error = thrown<RunTimeError>([&] { drop(L"C:\\Data\\a.lzh"); });
  EXPECT_EQ(error.number(), 453);
  EXPECT_EQ(error.description(), L"Can't find DLL entry point Unlha in UNLHA32.DLL");
}

// An empty desktop puts the folder at the drive root; one outside the code page is refused before
// any call, naming the operand at fault: here the destination, not the archive.
TEST_F(JobTest, NameOutsideTheCodePageIsNamedAndNeverPassed) {
  windows.desktop = std::nullopt;
  drop(L"C:\\Data\\a.lzh");
  EXPECT_EQ(calls, std::vector<std::string>{"Unlha e -rxy \"C:\\Data\\a.lzh\" \"\\a\\\""});
  windows.desktop = L"C:\\D\u0101";
  drop(L"C:\\In\\b.zip");
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_EQ(windows.messages, (std::vector{Message{L"This name cannot be passed to the archiver in "
                                                   L"the system's code page: C:\\D\u0101\\b\\",
                                                   L"PARVO"}}));
}

// Its own explanation is shown in the run of several jobs below.
TEST_F(JobTest, FailureIsShownWithTheArchiversExplanation) {
  result = 3;
  output = std::string(300, ' ');
  drop(L"C:\\Data\\a.zip");
  EXPECT_EQ(windows.messages, (std::vector{Message{L"The archiver reported error 3.", L"PARVO"}}));
}

// The folder stays the current directory for the jobs after it; other codes are told.
TEST_F(JobTest, EachPreferencePacksTheFolderFromInsideIt) {
  windows.addFolder(L"C:\\Work\\site.old");
  windows.addFolder(L"C:\\Work\\tools");
  const struct {
    const wchar_t* stored;
    const wchar_t* folder;
    const wchar_t* storedFolder;
    std::string call;  // none for a code that is refused
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
    calls.clear();
    windows.writeSetting(kPreference, c.stored);
    const std::size_t shown = windows.messages.size();
    EXPECT_EQ(drop(c.folder), c.call.empty() ? JobOutcome::kMessageShown : JobOutcome::kCompleted);
    EXPECT_EQ(calls, c.call.empty() ? std::vector<std::string>{} : std::vector{c.call});
    EXPECT_EQ(windows.currentDirectory, c.storedFolder);
    ASSERT_EQ(windows.messages.size(), shown + (c.call.empty() ? 1 : 0));
    if (c.call.empty()) {
      EXPECT_EQ(windows.messages.back().first, L"圧縮DLLの設定にエラーがあります。");
    }
  }
}

TEST_F(JobTest, SelfExtractingWaitsForTheLibraryAndCleansUp) {
  windows.addFolder(L"C:\\Work\\tools");
  onCall = [this](const std::string& commandLine) {
    busyPolls = 2;
    // The cabinet is still there when the conversion asks for it.
    if (commandLine.starts_with("-f ")) {
      EXPECT_TRUE(windows.findEntryName(kPrivate + L"\\tools.cab"));
    }
  };
  EXPECT_EQ(drop(L"C:\\Work\\tools"), JobOutcome::kCompleted);
  const std::string cabinet = "\"C:\\Users\\user\\AppData\\Local\\Temp\\parvo-1\\tools.cab\"";
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "Cab -a -r -ml:21 " + cabinet + " *.*", "?", "?", "?",
                       "Cab -f " + cabinet + " \"C:\\Users\\user\\Desktop\\\"", "?", "?", "?"}));
  EXPECT_EQ(windows.pumps, 4 + 6);  // two busy polls per wait, leaf scan
  EXPECT_FALSE(windows.findEntryName(kPrivate));
}

// A failed cabinet skips the conversion; one that left something out still becomes the program,
// and what was left out is told then (in the other modes at once).
TEST_F(JobTest, WhatTheCabinetLeftOutIsToldAfterTheConversion) {
  windows.addFolder(L"C:\\Work\\tools");
  const struct {
    std::int32_t packed;
    std::size_t calls;
    const wchar_t* preference;  // none stored: the self-extracting default
  } cases[] = {
      {5, 1, nullptr}, {kArchivedWithOmissions, 4, nullptr}, {kArchivedWithOmissions, 1, L"cab  "}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.preference ? "cab" : "self-extracting, " + std::to_string(c.packed));
    if (c.preference) windows.writeSetting(kPreference, c.preference);
    calls.clear();
    result = c.packed;
    output = "1 item was left out of the archive: link to nothing: a";
    const std::size_t shown = windows.messages.size();
    onCall = [&](const std::string& commandLine) {
      EXPECT_EQ(windows.messages.size(), shown) << commandLine;
      if (!commandLine.starts_with("-f ")) return;
      result = 0;
      output = "tools.run written";
    };
    EXPECT_EQ(drop(L"C:\\Work\\tools"), JobOutcome::kMessageShown);
    ASSERT_EQ(calls.size(), c.calls);
    ASSERT_EQ(windows.messages.size(), shown + 1);
    EXPECT_EQ(windows.messages.back().first,
              L"1 item was left out of the archive: link to nothing: a");
    EXPECT_FALSE(windows.findEntryName(kPrivate));
  }
}

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
      {L"C:\\In\\a.zip C:\\In\\notes.txt\tC:\\In\\b.zip", 0, kUnsupported, kExitJobFailed, 2},
  };
  output = "damaged";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    calls.clear();
    result = c.archiverResult;
    const std::size_t shownBefore = windows.messages.size();
    windows.arguments = c.arguments;
    EXPECT_EQ(RunProgram(windows), c.exitStatus);
    ASSERT_EQ(calls.size(), c.calls);
    EXPECT_NE(calls.front().find(c.calls == 2 ? "a.zip" : "b.zip"), std::string::npos);
    EXPECT_NE(calls.back().find("b.zip"), std::string::npos);
    ASSERT_EQ(windows.messages.size() > shownBefore, c.message != nullptr);
    if (c.message) {
      EXPECT_EQ(windows.messages[shownBefore], (Message{c.message, L"PARVO"}));
    }
  }
}

// Nothing stored means the default; stored text is fitted to five characters, unvalidated.
TEST(FormatPreference, StoredTextIsFittedToFiveCharactersUnvalidated) {
  const std::pair<std::optional<std::wstring>, FormatCode> cases[] = {
      {{}, L"cabex"},  {L"cab", L"cab  "},   {L"cabexe", L"cabex"}, {L"cabex ", L"cabex"},
      {L"", L"     "}, {L"CABEX", L"CABEX"}, {L" cab", L" cab "},
  };
  for (const auto& [stored, code] : cases) {
    SimulatedWindows windows;
    if (stored) windows.writeSetting(formatPreferenceKey(), *stored);
    EXPECT_EQ(ReadFormatPreference(windows), code) << stored.value_or(L"(nothing)");
  }
}

// The window shows the stored format (the layout's default when the code is none of the three),
// and OK stores what is selected then and closes the window; the close box stores nothing. The
// window is centred in half twips, on a screen smaller than itself too, without clamping.
TEST(SettingsDialog, ShowsTheStoredFormatAndStoresWhatIsSelectedOnOk) {
  const struct {
    std::optional<std::wstring> stored;
    int shown;
    std::optional<int> userSelects;
    bool pressOk;
    std::optional<std::wstring> storedAfter;
  } cases[] = {
      {{}, 1, {}, true, L"cabex"},     {L"cab  ", 0, {}, true, L"cab  "},
      {L"lha", 2, {}, true, L"lha  "}, {L"CABEX", 1, {}, true, L"cabex"},
      {L"lha", 2, 0, true, L"cab  "},  {{}, 1, 0, false, {}},
  };
  for (const auto& c : cases) {
    SimulatedWindows windows;
    if (c.stored) windows.writeSetting(formatPreferenceKey(), *c.stored);
    windows.dialog.userSelects = c.userSelects;
    windows.dialog.pressOk = c.pressOk;
    ShowForm1(windows);
    SCOPED_TRACE(c.stored.value_or(L"(nothing)"));
    EXPECT_EQ(windows.dialog.selectedWhenShown, c.shown);
    EXPECT_EQ(windows.readSetting(formatPreferenceKey()), c.storedAfter);
    EXPECT_EQ(windows.dialog.closed, c.pressOk);
    EXPECT_EQ(windows.dialog.left, -397.5f);
    EXPECT_EQ(windows.dialog.top, -957.5f);
  }
}

TEST(SettingsDialog, AFailedSaveClosesTheWindowAndIsRaised) {
  SimulatedWindows windows;
  windows.failSettingWrites = true;
  EXPECT_THROW(ShowForm1(windows), RunTimeError);
  EXPECT_TRUE(windows.dialog.closed);
}

}  // namespace
}  // namespace parvo
