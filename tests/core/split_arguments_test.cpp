#include "startup/split_arguments.h"

#include <gtest/gtest.h>

namespace parvo {
namespace {

using Paths = std::vector<std::wstring>;

// Blanks and tabs separate, never giving an empty entry; a quote toggles grouping wherever it
// stands and stays in the path, and an unbalanced one groups the rest of the text.
TEST(SplitArguments, BlanksSeparateAndQuotesGroupStayingInThePath) {
  const std::pair<const wchar_t*, Paths> cases[] = {
      {L"a.zip    b.lzh", {L"a.zip", L"b.lzh"}},
      {L" \t a.zip\tb.lzh \t", {L"a.zip", L"b.lzh"}},
      {L"  \t  ", {}},
      {L"", {}},
      {L"\"C:\\A.ZIP\"", {L"\"C:\\A.ZIP\""}},
      {L"\"C:\\My Files\\a b.zip\" C:\\x.lzh", {L"\"C:\\My Files\\a b.zip\"", L"C:\\x.lzh"}},
      {L"\"a\tb\"", {L"\"a\tb\""}},
      {L"ab\"c d\"e f", {L"ab\"c d\"e", L"f"}},
      {L"\"a b c", {L"\"a b c"}},
      {L"\"\" x", {L"\"\"", L"x"}},
  };
  for (const auto& [text, paths] : cases) EXPECT_EQ(SplitArguments(text), paths) << text;
}

}  // namespace
}  // namespace parvo
