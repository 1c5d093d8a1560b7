#include "common/entry_point.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/utf8.h"

namespace {

// The caller's buffer is small; a message cut to fit keeps whole characters, whichever byte the
// limit falls on.
TEST(EntryPoint, OutputCutShortKeepsWholeCharacters) {
  const std::string text = "a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80z";  // aé日😀z
  for (int32_t size = 1; size <= static_cast<int32_t>(text.size()) + 1; ++size) {
    char output[16];
    std::memset(output, '#', sizeof output);
    archivers::writeOutput(output, size, text);
    const std::string written(output);
    EXPECT_TRUE(archivers::isValidUtf8(written)) << size;
    EXPECT_TRUE(text.starts_with(written)) << size;
    EXPECT_GE(written.size() + 4, std::min<std::size_t>(size - 1, text.size())) << size;
  }
}

}  // namespace
