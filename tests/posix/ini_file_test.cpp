#include "platform/posix/ini_file.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace parvo
