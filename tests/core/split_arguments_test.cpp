#include "startup/split_arguments.h"

#include <gtest/gtest.h>

namespace parvo {
namespace {

using Paths = std::vector<std::wstring>;

TEST(SplitArguments, BlanksAndTabsSeparateWithoutEmptyEntries) {
  EXPECT_EQ(SplitArguments(L"a.zip    b.lzh"), (Paths{L"a.zip", L"b.lzh"}));
  EXPECT_EQ(SplitArguments(L" \t a.zip\tb.lzh \t"), (Paths{L"a.zip", L"b.lzh"}));
  EXPECT_TRUE(SplitArguments(L"  \t  ").empty());
  EXPECT_TRUE(SplitArguments(L"").empty());
}

TEST(SplitArguments, QuotesKeepBlanksAndStayInThePath) {
  EXPECT_EQ(SplitArguments(L"\"C:\\A.ZIP\""), (Paths{L"\"C:\\A.ZIP\""}));
  EXPECT_EQ(SplitArguments(L"\"C:\\My Files\\a b.zip\" C:\\x.lzh"),
            (Paths{L"\"C:\\My Files\\a b.zip\"", L"C:\\x.lzh"}));
  EXPECT_EQ(SplitArguments(L"\"a\tb\""), (Paths{L"\"a\tb\""}));
}

TEST(SplitArguments, QuoteInsideAPathTogglesGrouping) {
  EXPECT_EQ(SplitArguments(L"ab\"c d\"e f"), (Paths{L"ab\"c d\"e", L"f"}));
  // An unbalanced quote groups the rest of the text.
  EXPECT_EQ(SplitArguments(L"\"a b c"), (Paths{L"\"a b c"}));
  EXPECT_EQ(SplitArguments(L"\"\" x"), (Paths{L"\"\"", L"x"}));
}

}  // namespace
}  // namespace parvo
