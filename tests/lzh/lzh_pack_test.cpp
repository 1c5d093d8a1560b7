

#include "common/input_file.h"
#include "common/progress.h"
#include "lzh/lzh_header.h"
#include "support/archiver_library.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/tree_snapshot.h"

namespace {

namespace fs = std::filesystem;

// Every reader lists and extracts every member; the faithful ones keep names and modes; ours keeps
// times and the empty folder too. Header sizes sweep across 256 and 512 bytes (a zero low byte
// reads as the end to some), a name CP932 cannot hold stands beside Japanese ones (some readers
// take one encoding for all names), modes beside 0644 and 0755 (readers default a missing one
// differently).
TEST(LzhPack, EveryReaderListsAndExtractsEveryMemberAsPacked) {
  TemporaryFolder work;
  Contents ascii = {{"a.sh", "x"},
                    {"s/k", "k"},
                    {"nested/deeper/notes.txt", "deep\n"},
                    {"empty", ""},
                    {"text.txt", varyingText(400000)},
                    {"random.bin", noise(100000, 9)},
                    {".dotfile", "hidden\n"}};
  for (std::size_t n = 200; n <= 240; ++n) {
    const std::string name = std::to_string(n) + std::string(n - 3, 'x');
    ascii[name] = name;
    ascii[std::string(250, 'd') + "/" + std::to_string(n) + std::string(n - 3, 'y')] = name;
  }
  Contents files = ascii;
  files.insert({{"M\xC3\xBCller", "u"}, {"\xE6\x97\xA5/\xE8\xA1\xA8", "j"}});
  writeFiles(work / "source", files);
  fs::create_directories(work / "source/empty folder");
  fs::permissions(work / "source/s", fs::perms::owner_all);
  fs::permissions(work / "source/s/k", fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_EQ(packIn(work / "source", kLzh, "a -rx \"" + work / "packed.lzh" + "\" *.*").code, kOk);
  archivers::FollowedCall call(nullptr);
  archivers::InputFile input(work / "packed.lzh", call);
  std::map<std::string, std::string> methods;
  while (const auto header = archivers::lzh::readMemberHeader(input)) {
    methods[header->path] = header->method;
    input.seek(header->dataOffset + header->compressedSize);
  }
  EXPECT_EQ(methods.at("random.bin"), "-lh0-");
  EXPECT_EQ(methods.at("text.txt"), "-lh5-");
  EXPECT_EQ(methods.at("empty folder/"), "-lhd-");
  const std::tuple<const char*, const char*, bool> readers[] = {{"7zz l", "7zz x -bso0", false},
                                                                {"lhasa l", "lhasa xq", true},
                                                                {"jlha l", "jlha x", false},
                                                                {"bsdtar -tf", "bsdtar -xpf", true},
                                                                {"lsar", "unar -q -D", true}};
  for (const auto& [list, extract, faithful] : readers) {
    SCOPED_TRACE(extract);
    const fs::path out = work / extract;
    fs::create_directories(out);
    runShell(std::string(list) + " ../packed.lzh >../list && " + extract + " ../packed.lzh", out);
    const std::string listing = readFile(work / "list");
    for (const auto& item : ascii) EXPECT_NE(listing.find(item.first), std::string::npos);
    for (const auto& [name, bytes] : faithful ? files : ascii) {
      EXPECT_TRUE(readFile(out / name) == bytes) << name;
      if (!faithful) continue;
      for (const fs::path& path : {fs::path(name), fs::path(name).parent_path()}) {
        const fs::path source = work / "source";
        EXPECT_EQ(fs::status(out / path).permissions(), fs::status(source / path).permissions());
      }
    }
  }
  ASSERT_EQ(extractWith(kLzh, work / "packed.lzh", work / "ours").code, kOk);
  expectContents(entriesIn(work / "ours"), entriesIn(work / "source"));
  const Tree tree = snapshot(work / "ours");
  EXPECT_TRUE(tree.at("a.sh").executable);
  EXPECT_EQ(tree.at("nested/deeper/notes.txt").mtime, kSampleMtime);
}

}  // namespace
