#include "common/text_encoding.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace archivers {
namespace {

// Trail bytes 0x5C inside names are tested through each format's reader.
TEST(Cp932, KanaNecAndIbmExtensionsAndAsciiDecode) {
  EXPECT_EQ(cp932ToUtf8("\xB1\x82\xA0"), "ｱあ");
  EXPECT_EQ(cp932ToUtf8("\x87\x40\xED\x40\xFA\x40"), "①纊ⅰ");
  EXPECT_EQ(cp932ToUtf8("plain ~\\"), "plain ~\\");
}

TEST(Cp932, UndecodableBytesAreKeptAsTheyStand) {
  // Bytes no character starts with, a lead byte at the end and one before a non-trail byte.
  for (const std::string kept : {"a\200b\240", "\x83", "\x83 x"}) {
    EXPECT_EQ(cp932ToUtf8(kept), kept);
  }
  EXPECT_EQ(cp932ToUtf8("\xFF\x83\x5C"), "\377ソ");
}

TEST(Cp932, DecodesTheSameFromManyThreads) {
  const std::string name = "\x95\x5C\x8E\xA6\x83\x5C\x83\x74\x83\x67.txt";
  std::atomic<int> mismatches = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) mismatches += cp932ToUtf8(name) != "表示ソフト.txt" ? 1 : 0;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(mismatches, 0);
}

TEST(UnflaggedNames, ValidUtf8StaysElseCp932) {
  EXPECT_EQ(decodeUnflaggedName("日本語/ファイル.txt"), "日本語/ファイル.txt");
  EXPECT_EQ(decodeUnflaggedName("\x93\xFA\x96\x7B"), "日本");
  EXPECT_TRUE(isValidUtf8("ascii €𝄞"));
  // Overlong '/' in two and three bytes, a surrogate, past U+10FFFF, truncated.
  for (const char* bad :
       {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE3\x82"}) {
    EXPECT_FALSE(isValidUtf8(bad)) << bad;
  }
}

TEST(ZipNames, OneCodePagePerNameAndNoTwoNamesMadeOne) {
  // Valid UTF-8 stays; CP932 only when all of it decodes; else all of it is CP437.
  EXPECT_EQ(decodeZipName("\x93\xFA\x96\x7B.txt"), "日本.txt");
  EXPECT_EQ(decodeZipName("Caf\x82 na\x8Bve.txt"), "Café naïve.txt");
  EXPECT_EQ(decodeZipName("\x82\xA0\xFF"), "éá\u00A0");
  // The same text from other bytes: the later name keeps its bytes visible instead.
  ZipNameDecoder names;
  EXPECT_EQ(names.decode("\xE0.txt"), "α.txt");           // CP437
  EXPECT_EQ(names.decode("\xE0.txt"), "α.txt");           // the same member's name again
  EXPECT_EQ(names.decode("α.txt"), "%CE%B1.txt");         // UTF-8 spelling the same
  EXPECT_EQ(names.decode("\x83\xBF.txt"), "%83%BF.txt");  // CP932 alpha
  EXPECT_EQ(names.decode("%83%BF.txt"), "%83%BF.txt~2");  // a name that reads like an escape
}

}  // namespace
}  // namespace archivers
