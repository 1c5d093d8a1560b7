#include "platform/posix/utf8_text.h"

#include <gtest/gtest.h>

namespace parvo {
namespace {

TEST(Utf8Text, ValidTextDecodes) {
  EXPECT_EQ(fromUtf8("a\xc3\xa9\xe8\xa1\xa8\xf0\x9f\x93\xa6"), L"a\u00e9\u8868\U0001F4E6");
  EXPECT_EQ(toUtf8(L"a\u00e9\u8868\U0001F4E6"), "a\xc3\xa9\xe8\xa1\xa8\xf0\x9f\x93\xa6");
}

TEST(Utf8Text, AnyByteStringRoundTrips) {
  // Latin-1, a Shift-JIS name, an overlong slash, an encoded surrogate, a cut sequence.
  for (const std::string bytes :
       {"caf\xe9.zip", "\x83\x5c\x95\x5c.lzh", "\xc0\xaf", "\xed\xa0\x80", "ab\xe8\xa1", "\xff"}) {
    const std::wstring text = fromUtf8(bytes);
    EXPECT_EQ(toUtf8(text), bytes);
    EXPECT_EQ(text.find(L'/'), std::wstring::npos) << "an invalid byte must not become a separator";
  }
}

}  // namespace
}  // namespace parvo
