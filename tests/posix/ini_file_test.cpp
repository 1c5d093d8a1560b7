#include "platform/posix/ini_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temporary_folder.h"

namespace parvo {
namespace {

TEST(IniFile, HandWrittenValuesAndOtherSettingsSurvive) {
  TemporaryFolder folder;
  const std::string path = folder / "norrin.ini";
  writeFile(path,
            "; mine\r\n[other]\narcdllselect=keep\n\n[parvo]\n  arcdllselect =  cab  \nx=1\n");
  IniFile ini(path);
  EXPECT_EQ(ini.read("parvo", "arcdllselect"), "cab");
  EXPECT_EQ(ini.read("parvo", "x"), "1");

  ASSERT_TRUE(ini.write("parvo", "arcdllselect", "cabex"));
  ASSERT_TRUE(ini.write("parvo", "new", "v"));
  ASSERT_TRUE(ini.write("third", "k", "w"));
  EXPECT_EQ(ini.read("other", "arcdllselect"), "keep");
  EXPECT_EQ(ini.read("parvo", "arcdllselect"), "cabex");
  EXPECT_EQ(ini.read("parvo", "x"), "1");
  EXPECT_EQ(ini.read("parvo", "new"), "v");
  EXPECT_EQ(ini.read("third", "k"), "w");
  EXPECT_EQ(readFile(path).substr(0, 7), "; mine\n");
}

// The key lands in [parvo] whatever its section holds, not in the section that follows, which
// stays byte for byte even where it holds the same key.
TEST(IniFile, SavedKeyStaysInItsSectionBeforeAnother) {
  const std::string next = "[other]\narcdllselect=\"lha  \"\n; note\n";
  const std::pair<std::string, std::string> cases[] = {
      {"[parvo]\n", "[parvo]\narcdllselect=\"cab  \"\n"},
      {"[parvo]\nx=1\n\n", "[parvo]\nx=1\narcdllselect=\"cab  \"\n\n"},
      {"[parvo]\narcdllselect=lha\n", "[parvo]\narcdllselect=\"cab  \"\n"},
  };
  TemporaryFolder folder;
  for (const auto& [before, after] : cases) {
    writeFile(folder / "norrin.ini", before + next);
    ASSERT_TRUE(IniFile(folder / "norrin.ini").write("parvo", "arcdllselect", "cab  "));
    EXPECT_EQ(readFile(folder / "norrin.ini"), after + next);
  }
}

TEST(IniFile, BinaryFileReadsAsAbsentAndIsReplacedOnSave) {
  TemporaryFolder folder;
  const std::string path = folder / "norrin.ini";
  writeFile(path, std::string("[parvo]\narcdllselect=lha\0\x01\x02", 27));
  IniFile ini(path);
  EXPECT_EQ(ini.read("parvo", "arcdllselect"), std::nullopt);
  ASSERT_TRUE(ini.write("parvo", "arcdllselect", "cab  "));
  EXPECT_EQ(ini.read("parvo", "arcdllselect"), "cab  ");
}

TEST(IniFile, UnwritableFileIsNotReplaced) {
  TemporaryFolder folder;
  const std::string path = folder / "sub";
  writeFile(path, "not a folder");
  EXPECT_FALSE(IniFile(path + "/norrin.ini").write("parvo", "arcdllselect", "cab  "));
  EXPECT_FALSE(IniFile(path).write("parvo", "arcdllselect", "line\nbreak"));
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
