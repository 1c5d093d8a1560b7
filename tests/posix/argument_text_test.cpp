#include "platform/posix/argument_text.h"

#include <gtest/gtest.h>

#include "runtime/run_time_error.h"
#include "support/thrown.h"

namespace parvo {
namespace {

std::wstring textOf(std::vector<std::string> arguments) {
  return argumentTextFrom(arguments, "/home/u/work");
}

TEST(ArgumentText, PathsAreMadeAbsoluteAndNormalisedLexically) {
  EXPECT_EQ(textOf({"."}), L"/home/u/work");
  EXPECT_EQ(textOf({"../a.zip", "/x//y/./z/"}), L"/home/u/a.zip /x/y/z");
  EXPECT_EQ(textOf({"/../../etc"}), L"/etc");
  EXPECT_EQ(normalisePath("/", "/"), "/");
}

TEST(ArgumentText, BlanksAndTabsInAPathAreQuoted) {
  EXPECT_EQ(textOf({"My Files/a b.zip", "c.lzh"}),
            L"\"/home/u/work/My Files/a b.zip\" /home/u/work/c.lzh");
  EXPECT_EQ(textOf({"/t\tab"}), L"\"/t\tab\"");
}

TEST(ArgumentText, EmptyArgumentsVanishBlankOnesStay) {
  EXPECT_EQ(textOf({}), L"");
  EXPECT_EQ(textOf({"", ""}), L"");
  EXPECT_EQ(textOf({" "}), L" ");
  EXPECT_EQ(textOf({"", "/a", ""}), L"/a");
}

TEST(ArgumentText, DoubleQuoteInANameIsABadFileName) {
  EXPECT_EQ(thrown<RunTimeError>([] {
              textOf({"/a.zip", "say\"hi\".zip"});
            }).number(),
            kBadFileName);
}

}  // namespace
}  // namespace parvo
