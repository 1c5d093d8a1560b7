// Text as the libraries take it and hand it back: names in the archives' code pages, the caller's
// command line and the caller's output buffer.
#include "common/text_encoding.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/archive_error.h"
#include "common/archive_input.h"
#include "common/entry_point.h"
#include "common/progress.h"
#include "common/utf8.h"
#include "support/temporary_folder.h"

namespace archivers {
namespace {

// Kana, NEC and IBM extensions and ASCII decode; bytes no character starts with, a lead byte at
// the end and one before a non-trail byte are kept as they stand. Trail bytes 0x5C inside names
// are tested through each format's reader.
TEST(Cp932, DecodesItsExtensionsAndKeepsUndecodableBytes) {
  const std::pair<std::string, std::string> cases[] = {
      {"\xB1\x82\xA0", "ｱあ"},    {"\x87\x40\xED\x40\xFA\x40", "①纊ⅰ"},
      {"plain ~\\", "plain ~\\"}, {"a\200b\240", "a\200b\240"},
      {"\x83", "\x83"},           {"\x83 x", "\x83 x"},
      {"\xFF\x83\x5C", "\377ソ"}, {"\x95\x5C\x8E\xA6\x83\x5C.txt", "表示ソ.txt"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(cp932ToUtf8(bytes), text) << bytes;
}

// CP932 names without a flag are read through the ARJ, LZH and cabinet readers' tests.
TEST(UnflaggedNames, ValidUtf8Stays) {
  EXPECT_EQ(decodeUnflaggedName("日本語/ファイル.txt"), "日本語/ファイル.txt");
}

TEST(ZipNames, OneCodePagePerNameAndNoTwoNamesMadeOne) {
  // CP932 only when all of it decodes, else all of it is CP437 (whole names of each kind are read
  // by the corpus run, zip_filename_cp932.zip among them).
  EXPECT_EQ(decodeZipName("\x82\xA0\xFF"), "éá\u00A0");
  // The same text from other bytes: the later name keeps its bytes visible instead.
  ZipNameDecoder names;
  EXPECT_EQ(names.decode("\xE0.txt"), "α.txt");           // CP437
  EXPECT_EQ(names.decode("\xE0.txt"), "α.txt");           // the same member's name again
  EXPECT_EQ(names.decode("α.txt"), "%CE%B1.txt");         // UTF-8 spelling the same
  EXPECT_EQ(names.decode("\x83\xBF.txt"), "%83%BF.txt");  // CP932 alpha
  EXPECT_EQ(names.decode("%83%BF.txt"), "%83%BF.txt~2");  // a name that reads like an escape
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

// Siblings come from the archive's own folder only, ignoring case with the exact name first, and
// only as regular files.
TEST(FileArchiveInput, SiblingsComeFromItsOwnFolderIgnoringCase) {
  TemporaryFolder folder;
  std::filesystem::create_directories(folder / "set/sub");
  writeFile(folder / "set/a.cab", "a");
  writeFile(folder / "set/part.cab", "lower");
  writeFile(folder / "set/PART.CAB", "upper!");
  writeFile(folder / "secret", "secret");
  FollowedCall call(nullptr);
  FileArchiveInput input(folder / "set/a.cab", call);
  const auto sizeOf = [&](std::string_view name) {
    const std::unique_ptr<ArchiveInput> sibling = input.openSibling(name);
    return sibling == nullptr ? -1 : static_cast<int>(sibling->size());
  };
  EXPECT_EQ(sizeOf("part.cab"), 5);
  EXPECT_EQ(sizeOf("PART.CAB"), 6);
  EXPECT_NE(sizeOf("Part.Cab"), -1);
  EXPECT_EQ(sizeOf("A.CAB"), 1);
  for (const char* refused : {"../secret", "sub", "..", ".", "", "sub/../a.cab", "missing"}) {
    EXPECT_EQ(sizeOf(refused), -1) << refused;
  }
}

}  // namespace
}  // namespace archivers
