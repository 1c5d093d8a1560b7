#include <sys/stat.h>

#include "extraction_fixture.h"

namespace {

class TarTest : public ExtractionFixture {
 protected:
  ArchiverResult untar(const std::string& archive) const {
    return extract("libtar32.so", "Tar", "-xvf", archive);
  }

  // The sample tree plus what TAR adds: links, a hard link and a path too long for the old header.
  void makeTarTree() {
    makeSampleTree();
    std::filesystem::create_symlink("a/b/c/deep.txt", source() / "link-to-deep");
    std::filesystem::create_hard_link(source() / "text.txt", source() / "hard.txt");
    writeFile(source() / std::string(120, 'd') / (std::string(60, 'f') + ".txt"), "long\n");
    setMtime(source() / std::string(120, 'd'));
  }

  void expectTreeFrom(const std::string& command, const Tree& expected) {
    std::filesystem::remove(path("a.tar"));
    std::filesystem::remove_all(destination());
    shell("cd source && " + command);
    const ArchiverResult result = untar("a.tar");
    EXPECT_EQ(result.code, kOk) << command << ": " << result.output;
    EXPECT_EQ(snapshot(destination()), expected) << command;
  }
};

TEST_F(TarTest, ExtractsEveryFormatBehindEveryFilter) {
  makeTarTree();
  const Tree expected = snapshot(source());
  for (const char* format : {"ustar", "pax", "gnutar"}) {
    for (const char* filter : {"", "-z", "-j", "-J", "--zstd"}) {
      expectTreeFrom(std::string("bsdtar --format ") + format + " " + filter + " -cf ../a.tar .",
                     expected);
    }
  }
  for (const char* format : {"gnu", "posix"}) {
    expectTreeFrom(std::string("tar --format=") + format + " -czf ../a.tar .", expected);
  }
}

TEST_F(TarTest, FillsTheHolesOfSparseFiles) {
  // A hole, data, a hole, data and a hole running to the end.
  shell(
      "cd source && truncate -s 1M sparse && echo middle >> sparse && truncate -s 3M sparse && "
      "echo end >> sparse && truncate -s 5M sparse");
  setMtime(source() / "sparse");
  const Tree expected = snapshot(source());
  for (const char* command :
       {"tar --format=gnu -S -cf ../a.tar sparse", "tar --format=posix -S -cf ../a.tar sparse",
        "bsdtar --format pax -cf ../a.tar sparse"}) {
    expectTreeFrom(command, expected);
  }
}

TEST_F(TarTest, KeepsHolesAsHoles) {
  // 8 TiB of hole in a 10 KiB archive: written out as zeros it would fill the disk.
  if (std::system(("truncate -s 8T '" + (source() / "huge").string() + "'").c_str()) != 0) {
    GTEST_SKIP() << "no sparse files here";
  }
  shell("cd source && echo end >> huge && tar --format=gnu -S -cf ../a.tar huge");
  const ArchiverResult result = untar("a.tar");
  ASSERT_EQ(result.code, kOk) << result.output;
  struct stat status {};
  ASSERT_EQ(stat((destination() / "huge").c_str(), &status), 0);
  EXPECT_EQ(static_cast<std::uint64_t>(status.st_size), (std::uint64_t{8} << 40) + 4);
  EXPECT_LT(status.st_blocks * 512, 1 << 20);
}

TEST_F(TarTest, KeepsNamesThatAreNotUtf8AsTheyStand) {
  shell("cd source && printf latin > \"$(printf 'caf\\351')\" && tar --format=gnu -cf ../a.tar *");
  ASSERT_EQ(untar("a.tar").code, kOk);
  EXPECT_EQ(snapshot(destination()).at("caf\xE9").content, "latin");
}

TEST_F(TarTest, RefusesNamesAndLinksThatLeaveTheDestination) {
  std::filesystem::create_directories(path("outside"));
  writeFile(path("escape.txt"), "x");
  writeFile(source() / "safe.txt", "safe");
  shell("cd source && bsdtar -P -cf ../names.tar ../escape.txt " + path("escape.txt").string() +
        " safe.txt");
  std::filesystem::remove(path("escape.txt"));
  shell(
      "mkdir -p s1 s2/link && ln -s ../outside s1/link && echo evil > s2/link/evil.txt && "
      "(cd s2 && bsdtar -cf ../inner.tar link/evil.txt) && "
      "(cd s1 && bsdtar -cf ../link.tar link @../inner.tar)");
  // A hard link to a file outside, then data written through it.
  writeFile(path("secret/secret.txt"), "secret");
  shell(
      "python3 -c \"import io, tarfile\n"
      "with tarfile.open('hard.tar', 'w', format=tarfile.GNU_FORMAT) as t:\n"
      "  link = tarfile.TarInfo('hard'); link.type = tarfile.LNKTYPE\n"
      "  link.linkname = '" +
      path("secret/secret.txt").string() +
      "'; t.addfile(link)\n"
      "  data = tarfile.TarInfo('hard'); data.size = 11\n"
      "  t.addfile(data, io.BytesIO(b'overwritten'))\"");
  for (const char* archive : {"names.tar", "link.tar", "hard.tar"}) {
    const ArchiverResult result = untar(archive);
    EXPECT_EQ(result.code, kEntriesRefused) << archive << ": " << result.output;
    EXPECT_FALSE(result.output.empty());
  }
  EXPECT_TRUE(std::filesystem::is_empty(path("outside")));
  EXPECT_EQ(strayEntries({"outside", "names.tar", "link.tar", "s1", "s2", "inner.tar", "hard.tar",
                          "secret"}),
            std::vector<std::string>{});
  EXPECT_EQ(snapshot(path("secret")).at("secret.txt").content, "secret");
  EXPECT_EQ(snapshot(destination()).at("safe.txt").content, "safe");
}

TEST_F(TarTest, DamagedArchivesFailWithoutPartialFiles) {
  makeSampleTree();
  const Tree expected = snapshot(source());
  shell("cd source && tar -cf ../plain.tar . && tar -czf ../packed.tar .");
  const auto plainSize = std::filesystem::file_size(path("plain.tar"));
  const auto packedSize = std::filesystem::file_size(path("packed.tar"));
  shell("head -c " + std::to_string(plainSize / 2) + " plain.tar > truncated.tar");
  shell("head -c " + std::to_string(packedSize / 2) + " packed.tar > truncated-gz.tar");
  shell("cp packed.tar flipped-gz.tar && printf '\\377' | dd of=flipped-gz.tar bs=1 seek=" +
        std::to_string(packedSize / 2) + " conv=notrunc");
  for (const char* archive : {"truncated.tar", "truncated-gz.tar", "flipped-gz.tar"}) {
    std::filesystem::remove_all(destination());
    const ArchiverResult result = untar(archive);
    EXPECT_EQ(result.code, kCorrupt) << archive << ": " << result.output;
    EXPECT_FALSE(result.output.empty());
    // A TAR member has no checksum of its own: damage inside a gzip stream shows only at its
    // trailer, after the member landed. Truncation is caught in the member.
    if (std::string(archive) == "flipped-gz.tar") continue;
    for (const auto& [name, node] : snapshot(destination())) {
      EXPECT_NE(std::filesystem::path(name).filename().string()[0], '.') << archive << name;
      if (node.type == 'f') {
        EXPECT_EQ(node.content, expected.at(name).content) << archive << name;
      }
    }
  }
}

TEST_F(TarTest, AcceptsOnlyTheExtractionCommandLine) {
  writeFile(path("a.txt"), std::string(2048, 'z'));
  const std::string archive = "\"" + path("a.txt").string() + "\"";
  const std::string dest = "\"" + destination().string() + "/\"";
  for (const std::string& line : {"-xv " + archive + " " + dest, "-xvf " + archive,
                                  "-cvf " + archive + " " + dest, "x " + archive + " " + dest}) {
    EXPECT_EQ(callArchiver("libtar32.so", "Tar", line).code, kBadCommandLine) << line;
  }
  EXPECT_EQ(untar("a.txt").code, kCannotOpen);
  EXPECT_EQ(untar("missing.tar").code, kCannotOpen);
  EXPECT_FALSE(std::filesystem::exists(destination()));
}

}  // namespace
