#include "common/command_line.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/archive_error.h"
#include "common/entry_point.h"
#include "common/utf8.h"
#include "support/thrown.h"

namespace archivers {
namespace {

using Strings = std::vector<std::string>;

TEST(CommandLine, QuotedOperandsKeepBlanksAndTabsSeparate) {
  const Command command = parseCommand("-x\t-o  -r \"my archive.cab\" \"/home/a b/DEST/\"\t");
  EXPECT_EQ(command.options, (Strings{"-x", "-o", "-r"}));
  EXPECT_EQ(command.operands, (Strings{"my archive.cab", "/home/a b/DEST/"}));
  EXPECT_TRUE(command.hasOption("-r"));
  EXPECT_FALSE(command.hasOption("-x -o"));
}

TEST(CommandLine, QuotesGroupInsideATokenAndEmptyQuotesGiveAnEmptyOperand) {
  const Command command = parseCommand(R"(e -"rxy" a"b c"d "" "-")");
  EXPECT_EQ(command.options, (Strings{"-rxy", "-"}));
  EXPECT_EQ(command.operands, (Strings{"e", "ab cd", ""}));
  EXPECT_TRUE(parseCommand(" \t ").operands.empty());
}

// Which command lines are refused is tried through every library in hostile_input_test.cpp.
TEST(CommandLine, AnUnknownOptionIsNamed) {
  const ArchiveError unknown = thrown<ArchiveError>([] {
    requireOptionsWithin(parseCommand("-xv -z a b"), {"-xv", "-o"});
  });
  EXPECT_NE(std::string(unknown.what()).find("-z"), std::string::npos);
}

// The caller's buffer is small: a message cut to fit keeps whole characters, whichever byte the
// limit falls on, and nothing is written past it.
TEST(OutputBuffer, NeverWrittenPastItsSizeAndCutBetweenCharacters) {
  const std::string text = "a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80z";  // aé日😀z
  char buffer[16];
  for (int32_t size = 0; size <= static_cast<int32_t>(text.size()) + 1; ++size) {
    std::memset(buffer, '#', sizeof buffer);
    writeOutput(buffer, size, text);
    for (int32_t i = size; i < 16; ++i) EXPECT_EQ(buffer[i], '#') << size;
    if (size == 0) continue;
    const std::string written(buffer);
    EXPECT_TRUE(isValidUtf8(written)) << size;
    EXPECT_TRUE(text.starts_with(written)) << size;
    EXPECT_GE(written.size() + 4, std::min<std::size_t>(size - 1, text.size())) << size;
  }
  writeOutput(nullptr, 10, "x");
  std::memset(buffer, '#', sizeof buffer);
  const int32_t code =
      runEntryPoint("-q", buffer, 4, [](std::string_view, FollowedCall&) -> std::string {
        throw ArchiveError(Result::kBadCommandLine, "unknown option -q");
      });
  EXPECT_EQ(code, static_cast<int32_t>(Result::kBadCommandLine));
  EXPECT_STREQ(buffer, "unk");
  EXPECT_EQ(buffer[4], '#');
}

}  // namespace
}  // namespace archivers
