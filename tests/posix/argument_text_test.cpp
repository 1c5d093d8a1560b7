#include "platform/posix/argument_text.h"

#include <gtest/gtest.h>

#include "runtime/run_time_error.h"
#include "support/thrown.h"

namespace parvo {
namespace {

std::wstring textOf(std::vector<std::string> arguments) {
  return argumentTextFrom(arguments, "/home/u/work");
}

// Paths are made absolute and normalised lexically, those with blanks or tabs quoted; empty
// arguments vanish, blank ones stay.
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
  for (const auto& [arguments, text] : cases) EXPECT_EQ(textOf(arguments), text) << text;
  EXPECT_EQ(normalisePath("/", "/"), "/");
}

TEST(ArgumentText, DoubleQuoteInANameIsABadFileName) {
  EXPECT_EQ(thrown<RunTimeError>([] {
              textOf({"/a.zip", "say\"hi\".zip"});
            }).number(),
            kBadFileName);
}

}  // namespace
}  // namespace parvo
