#include "platform/posix/posix_platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "platform/posix/argument_text.h"
#include "platform/posix/utf8_text.h"
#include "platform/posix/xdg_desktop.h"
#include "runtime/run_time_error.h"
#include "support/temporary_folder.h"
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
  EXPECT_EQ(desktopFolder(), folder / "home/Desktop");
  writeFile(folder / "config/user-dirs.dirs",
            "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch/\"\n");
  EXPECT_EQ(desktopFolder(), folder / "home/Schreibtisch");
  writeFile(folder / "config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"/srv/desk\"\n");
  EXPECT_EQ(desktopFolder(), "/srv/desk");

  PosixPlatform({}).writeSetting({L"norrin", L"parvo", L"arcdllselect"}, L"lha  ");
  EXPECT_EQ(readFile(folder / "config/norrin.ini"), "[parvo]\narcdllselect=\"lha  \"\n");
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
  const timespec earlier[2] = {{time(nullptr) - 3700, 0}, {time(nullptr) - 3700, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (folder / "cache/.parvo-old123").c_str(), earlier, 0), 0);

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

}  // namespace
}  // namespace parvo
