#include "common/command_line.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/archive_error.h"
#include "common/entry_point.h"
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

TEST(OutputBuffer, NeverWrittenPastItsSizeAndAlwaysTerminated) {
  char buffer[8];
  for (int32_t size = 0; size <= 6; ++size) {
    std::memset(buffer, '#', sizeof buffer);
    writeOutput(buffer, size, "abcdefghij");
    for (int32_t i = std::max(size, 0); i < 8; ++i) EXPECT_EQ(buffer[i], '#') << size;
    if (size > 0) {
      EXPECT_EQ(std::string(buffer), std::string("abcdefghij", size - 1));
    }
  }
  writeOutput(nullptr, 10, "x");
  std::memset(buffer, '#', sizeof buffer);
  const int32_t code = runEntryPoint("-q", buffer, 4, [](std::string_view) -> std::string {
    throw ArchiveError(Result::kBadCommandLine, "unknown option -q");
  });
  EXPECT_EQ(code, static_cast<int32_t>(Result::kBadCommandLine));
  EXPECT_STREQ(buffer, "unk");
  EXPECT_EQ(buffer[4], '#');
}

}  // namespace
}  // namespace archivers
