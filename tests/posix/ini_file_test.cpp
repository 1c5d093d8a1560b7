#include "platform/posix/ini_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temporary_folder.h"

namespace parvo {
namespace {

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
