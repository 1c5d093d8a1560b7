#include "platform/posix/posix_platform.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "platform/posix/argument_text.h"
#include "platform/posix/ini_file.h"
#include "platform/posix/utf8_text.h"
#include "platform/posix/xdg_desktop.h"
#include "runtime/run_time_error.h"
#include "support/sample_files.h"
#include "support/thrown.h"

namespace parvo {
namespace {

TEST(Utf8Text, ValidTextDecodesAndAnyByteStringRoundTrips) {
  EXPECT_EQ(fromUtf8("a\xc3\xa9\xe8\xa1\xa8\xf0\x9f\x93\xa6"), L"a\u00e9\u8868\U0001F4E6");
  // That text; Latin-1, a Shift-JIS name, an overlong slash, an encoded surrogate, a cut sequence.
  for (const std::string bytes :
       {"a\xc3\xa9\xe8\xa1\xa8\xf0\x9f\x93\xa6", "caf\xe9.zip", "\x83\x5c\x95\x5c.lzh", "\xc0\xaf",
        "\xed\xa0\x80", "ab\xe8\xa1", "\xff"}) {
    const std::wstring text = fromUtf8(bytes);
    EXPECT_EQ(toUtf8(text), bytes);
    EXPECT_EQ(text.find(L'/'), std::wstring::npos) << "an invalid byte must not become a separator";
  }
}

// Paths are made absolute and normalised lexically, those with blanks or tabs quoted; empty
// arguments vanish, blank ones stay; a double quote in a name is a bad file name.
TEST(ArgumentText, PathsAreAbsoluteNormalisedAndQuotedWhereBlank) {
  const std::pair<std::vector<std::string>, std::wstring> cases[] = {
      {{"."}, L"/home/u/work"},
      {{"../a.zip", "/x//y/./z/"}, L"/home/u/a.zip /x/y/z"},
      {{"/../../etc"}, L"/etc"},
      {{"My Files/a b.zip", "c.lzh"}, L"\"/home/u/work/My Files/a b.zip\" /home/u/work/c.lzh"},
      {{"/t\tab"}, L"\"/t\tab\""},
      {{}, L""},
      {{"", ""}, L""},
      {{" "}, L" "},
      {{"", "/a", ""}, L"/a"},
  };
  for (const auto& [arguments, text] : cases) {
    EXPECT_EQ(argumentTextFrom(arguments, "/home/u/work"), text) << text;
  }
  EXPECT_EQ(normalisePath("/", "/"), "/");
  EXPECT_EQ(thrown<RunTimeError>([] {
              argumentTextFrom({"/a.zip", "say\"hi\".zip"}, "/");
            }).number(),
            kBadFileName);
}

class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// The plain cases (a file, a folder, a missing one) are the end-to-end runs'.
TEST(PosixPlatform, EntryLookupSeesDanglingLinksAndAttributesTellWhatIsMissing) {
  TemporaryFolder folder;
  writeFile(folder / "a/file.zip", "x");
  ASSERT_EQ(symlink("nowhere", (folder / "a/dangling").c_str()), 0);
  PosixPlatform platform({});
  EXPECT_EQ(platform.findEntryName(fromUtf8(folder / "a/dangling")), L"dangling");
  for (const auto& [path, error] :
       {std::pair{"a/none", kFileNotFound}, {"a/file.zip/x", kPathNotFound}}) {
    EXPECT_EQ(
        thrown<RunTimeError>([&] { platform.fileAttributes(fromUtf8(folder / path)); }).number(),
        error);
  }
}

// The settings file is written where XDG_CONFIG_HOME says, its value quoted to keep its blanks.
TEST(PosixPlatform, DesktopAndSettingsFollowTheXdgFolders) {
  TemporaryFolder folder;
  ScopedEnvironment home("HOME", folder / "home");
  ScopedEnvironment config("XDG_CONFIG_HOME", folder / "config");
  writeFile(folder / "config/user-dirs.dirs",
            "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch/\"\n");
  EXPECT_EQ(desktopFolder(), folder / "home/Schreibtisch");
  writeFile(folder / "config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"/srv/desk\"\n");
  EXPECT_EQ(desktopFolder(), "/srv/desk");
}

// A job's folder stays while another job holds it and is swept, from the cache and its /tmp
// fallback, once its holder is gone (closing the descriptors is what a kill does); the sweep
// follows no link and spares folders still being made.
TEST(PosixPlatform, PrivateFoldersOfEndedJobsAreSweptAndLiveOnesKept) {
  TemporaryFolder folder;
  ScopedEnvironment cache("XDG_CACHE_HOME", folder / "cache");
  ScopedEnvironment temporary("TMPDIR", folder / "tmp");
  writeFile(folder / "tmp/parvo-stale1/sub/file", "x");
  writeFile(folder / "outside/kept", "x");
  std::filesystem::create_directories(folder / "cache/.parvo-fresh1");
  std::filesystem::create_directories(folder / "cache/.parvo-old123");
  ASSERT_EQ(symlink((folder / "outside").c_str(), (folder / "cache/parvo-linked").c_str()), 0);
  setMtime(folder / "cache/.parvo-old123", time(nullptr) - 3700);

  auto other = std::make_unique<PosixPlatform>(std::vector<std::string>{});
  const std::string held = toUtf8(other->createPrivateFolder());
  PosixPlatform platform({});
  const std::string first = toUtf8(platform.createPrivateFolder());
  EXPECT_TRUE(std::filesystem::is_directory(held));
  other.reset();
  const std::string second = toUtf8(platform.createPrivateFolder());

  const auto names = [&](const char* within) {
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder / within)) {
      found.insert(entry.path().string());
    }
    return found;
  };
  const std::string fixed[] = {folder / "cache/.parvo-fresh1", folder / "cache/parvo-linked"};
  EXPECT_EQ(names("cache"), (std::set{first, second, fixed[0], fixed[1]}));
  EXPECT_EQ(names("tmp"), std::set<std::string>{});
  EXPECT_EQ(readFile(folder / "outside/kept"), "x");
  platform.removeFolder(fromUtf8(first));
  EXPECT_EQ(names("cache"), (std::set{second, fixed[0], fixed[1]}));
}

// Section and key names ignore case, values without quotes are trimmed, and a file that is not
// text holds nothing.
TEST(IniFile, HandWrittenValuesAreRead) {
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"; mine\r\n[other]\narcdllselect=keep\n\n[parvo]\n  arcdllselect =  cab  \nx=1\n", "cab"},
      {"[PARVO]\nArcDllSelect=\"lha  \"\n", "lha  "},
      {"[parvo]\nx=1\n[other]\narcdllselect=keep\n", std::nullopt},
      {std::string("[parvo]\narcdllselect=lha\0\x01\x02", 27), std::nullopt},
  };
  TemporaryFolder folder;
  for (const auto& [text, value] : cases) {
    writeFile(folder / "norrin.ini", text);
    EXPECT_EQ(IniFile(folder / "norrin.ini").read("parvo", "arcdllselect"), value) << text;
  }
}

// The key lands in [parvo] whatever its section holds, not in the section that follows, which
// stays byte for byte even where it holds the same key; a missing section is added, other lines
// stay (a comment's CR LF becoming LF), and a file that is not text is replaced; a file that
// cannot be written or a value with a line break is refused.
TEST(IniFile, SavedKeyStaysInItsSectionBeforeAnother) {
  const std::string next = "[other]\narcdllselect=\"lha  \"\n; note\n";
  const std::string saved = "arcdllselect=\"cab  \"\n";
  const std::pair<std::string, std::string> cases[] = {
      {"[parvo]\n" + next, "[parvo]\n" + saved + next},
      {"[parvo]\nx=1\n\n" + next, "[parvo]\nx=1\n" + saved + "\n" + next},
      {"[parvo]\narcdllselect=lha\n" + next, "[parvo]\n" + saved + next},
      {"; mine\r\n" + next, "; mine\n" + next + "\n[parvo]\n" + saved},
      {std::string("[parvo]\narcdllselect=lha\0\x01\x02", 27), "[parvo]\n" + saved},
  };
  TemporaryFolder folder;
  for (const auto& [before, after] : cases) {
    writeFile(folder / "norrin.ini", before);
    ASSERT_TRUE(IniFile(folder / "norrin.ini").write("parvo", "arcdllselect", "cab  "));
    EXPECT_EQ(readFile(folder / "norrin.ini"), after);
  }
  writeFile(folder / "sub", "not a folder");
  EXPECT_FALSE(IniFile(folder / "sub/norrin.ini").write("parvo", "arcdllselect", "cab  "));
  EXPECT_FALSE(IniFile(folder / "sub").write("parvo", "arcdllselect", "line\nbreak"));
}

TEST(IniFile, ReadersNeverSeeATornFileWhileOthersWrite) {
  TemporaryFolder folder;
  const std::string path = folder / "norrin.ini";
  IniFile ini(path);
  ASSERT_TRUE(ini.write("keep", "k", "v"));
  ASSERT_TRUE(ini.write("parvo", "arcdllselect", "cab  "));

  std::vector<pid_t> writers;
  for (const char* code : {"lha  ", "cabex"}) {
    const pid_t child = fork();
    if (child == 0) {
      for (int i = 0; i < 300; ++i) {
        if (!IniFile(path).write("parvo", "arcdllselect", code)) _exit(1);
      }
      _exit(0);
    }
    writers.push_back(child);
  }
  for (int i = 0; i < 2000; ++i) {
    const auto value = ini.read("parvo", "arcdllselect");
    ASSERT_TRUE(value == "cab  " || value == "lha  " || value == "cabex") << value.value_or("none");
    ASSERT_EQ(ini.read("keep", "k"), "v");
  }
  for (const pid_t writer : writers) {
    int status = 0;
    waitpid(writer, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(ini.read("keep", "k"), "v");
}

}  // namespace
}  // namespace parvo
