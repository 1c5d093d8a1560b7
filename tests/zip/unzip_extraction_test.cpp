#include <locale.h>

#include "extraction_fixture.h"

namespace {

class UnZipTest : public ExtractionFixture {
 protected:
  ArchiverResult unzip(const std::string& archive) const {
    return extract("libunzip32.so", "UnZip", "-xv", archive);
  }

  // Every regular file that landed is complete and correct, and no temporary file is left.
  void expectOnlyIntactFiles(const Tree& expected) const {
    for (const auto& [name, node] : snapshot(destination())) {
      EXPECT_NE(std::filesystem::path(name).filename().string()[0], '.') << name;
      if (node.type != 'f') continue;
      const auto source = expected.find(name);
      ASSERT_NE(source, expected.end()) << name;
      EXPECT_EQ(node.content, source->second.content) << name;
    }
  }
};

TEST_F(UnZipTest, ExtractsEveryMethodPeerToolsWrite) {
  makeSampleTree();
  const Tree expected = snapshot(source());
  for (const char* command : {
           "zip -q -r ../a.zip .",
           "zip -q -r -0 ../a.zip .",
           "zip -q -r -Z bzip2 ../a.zip .",
           "7zz a -tzip -mm=Deflate ../a.zip .",
           "7zz a -tzip -mm=BZip2 ../a.zip .",
           "7zz a -tzip -mm=LZMA ../a.zip .",
           "7zz a -tzip -mm=PPMd ../a.zip .",
           "7zz a -tzip -mm=Copy ../a.zip .",
           "bsdtar --format zip -cf ../a.zip .",
       }) {
    std::filesystem::remove(path("a.zip"));
    std::filesystem::remove_all(destination());
    shell(std::string("cd source && ") + command);
    const ArchiverResult result = unzip("a.zip");
    EXPECT_EQ(result.code, kOk) << command << ": " << result.output;
    EXPECT_EQ(snapshot(destination()), expected) << command;
  }
}

TEST_F(UnZipTest, KeepsLinksThatStayInside) {
  writeFile(source() / "folder/target.txt", "target");
  std::filesystem::create_symlink("folder/target.txt", source() / "link");
  const Tree expected = snapshot(source());
  for (const char* command :
       {"zip -q -r -y ../a.zip .", "bsdtar --format zip -cf ../a.zip .", "7zz a -snl ../a.zip ."}) {
    std::filesystem::remove(path("a.zip"));
    std::filesystem::remove_all(destination());
    shell(std::string("cd source && ") + command);
    const ArchiverResult result = unzip("a.zip");
    EXPECT_EQ(result.code, kOk) << command << ": " << result.output;
    EXPECT_EQ(snapshot(destination()), expected) << command;
  }
}

TEST_F(UnZipTest, ReadsZip64FromAStreamingWriter) {
  // zip writes Zip64 sizes for data it reads from a pipe, not knowing its length beforehand.
  shell("yes streamed | head -c 2000000 | zip -q stream.zip -");
  ASSERT_EQ(unzip("stream.zip").code, kOk);
  const Tree tree = snapshot(destination());
  ASSERT_EQ(tree.count("-"), 1U);
  EXPECT_EQ(tree.at("-").content.size(), 2000000U);
  EXPECT_EQ(tree.at("-").content.substr(0, 9), "streamed\n");
}

TEST_F(UnZipTest, DecodesCp932AndUtf8NamesWhateverTheCallersLocale) {
  // "表示\ソフト.txt" in CP932: the trail bytes of 表 and ソ are 0x5C, a backslash in ASCII.
  shell("python3 " ZIP_TEST_DIR
        "/write_named_zip.py names.zip "
        "0:955c8ea65c835c837483672e747874=cp932 "
        "1:757466382fe5908de5898d2e747874=utf8");  // "utf8/名前.txt", flagged UTF-8
  const locale_t before = uselocale(static_cast<locale_t>(0));
  const ArchiverResult result = unzip("names.zip");
  EXPECT_EQ(uselocale(static_cast<locale_t>(0)), before);
  ASSERT_EQ(result.code, kOk) << result.output;
  const Tree tree = snapshot(destination());
  EXPECT_EQ(tree.size(), 4U);
  ASSERT_EQ(tree.count("表示/ソフト.txt"), 1U);
  EXPECT_EQ(tree.at("表示/ソフト.txt").content, "cp932");
  ASSERT_EQ(tree.count("utf8/名前.txt"), 1U);
  EXPECT_EQ(tree.at("utf8/名前.txt").content, "utf8");
}

TEST_F(UnZipTest, RefusesNamesAndLinksThatLeaveTheDestination) {
  std::filesystem::create_directories(path("outside"));
  shell(
      "python3 -c \"import zipfile; z = zipfile.ZipFile('names.zip', 'w'); "
      "[z.writestr(n, 'x') for n in ('../escape.txt', '" +
      path("absolute.txt").string() + "', 'safe.txt')]\"");
  // A link pointing out of the destination, then a member written through it.
  shell(
      "mkdir -p s1 s2/link && ln -s ../outside s1/link && echo evil > s2/link/evil.txt && "
      "(cd s2 && bsdtar -cf ../inner.tar link/evil.txt) && "
      "(cd s1 && bsdtar --format zip -cf ../link.zip link @../inner.tar)");
  for (const char* archive : {"names.zip", "link.zip"}) {
    const ArchiverResult result = unzip(archive);
    EXPECT_EQ(result.code, kEntriesRefused) << archive << ": " << result.output;
    EXPECT_FALSE(result.output.empty());
  }
  EXPECT_TRUE(std::filesystem::is_empty(path("outside")));
  EXPECT_EQ(strayEntries({"outside", "names.zip", "link.zip", "s1", "s2", "inner.tar"}),
            std::vector<std::string>{});
  EXPECT_EQ(snapshot(destination()).at("safe.txt").content, "x");
}

TEST_F(UnZipTest, DamagedArchivesFailWithoutPartialFiles) {
  makeSampleTree();
  const Tree expected = snapshot(source());
  shell("cd source && zip -q -r ../good.zip .");
  const auto size = std::filesystem::file_size(path("good.zip"));
  shell("head -c " + std::to_string(size / 2) + " good.zip > truncated.zip");
  // Flip one byte inside the compressed data of the random file, which fills mid-archive.
  shell("cp good.zip flipped.zip && printf '\\377' | dd of=flipped.zip bs=1 seek=" +
        std::to_string(size / 2) + " conv=notrunc");
  for (const char* archive : {"truncated.zip", "flipped.zip"}) {
    std::filesystem::remove_all(destination());
    const ArchiverResult result = unzip(archive);
    EXPECT_EQ(result.code, kCorrupt) << archive << ": " << result.output;
    EXPECT_FALSE(result.output.empty());
    expectOnlyIntactFiles(expected);
  }
  EXPECT_EQ(snapshot(destination()).count("random.bin"), 0U);
  EXPECT_EQ(snapshot(destination()).count("text.txt"), 1U);
}

TEST_F(UnZipTest, EncryptedAndDeflate64MembersAreUnsupportedTheRestLands) {
  makeSampleTree();
  shell("cd source && zip -q ../mixed.zip text.txt && zip -q -P secret ../mixed.zip run.sh");
  ArchiverResult result = unzip("mixed.zip");
  EXPECT_EQ(result.code, kUnsupported);
  EXPECT_NE(result.output.find("encrypt"), std::string::npos) << result.output;
  Tree tree = snapshot(destination());
  EXPECT_EQ(tree.count("text.txt"), 1U);
  EXPECT_EQ(tree.count("run.sh"), 0U);

  std::filesystem::remove_all(destination());
  shell("cd source && 7zz a -tzip -mm=Deflate64 ../d64.zip text.txt");
  result = unzip("d64.zip");
  EXPECT_EQ(result.code, kUnsupported);
  EXPECT_NE(result.output.find("Unsupported ZIP compression method"), std::string::npos)
      << result.output;
  EXPECT_EQ(snapshot(destination()).count("text.txt"), 0U);
}

TEST_F(UnZipTest, AcceptsOnlyTheExtractionCommandLine) {
  writeFile(path("a.txt"), "not an archive");
  const std::string archive = "\"" + path("a.txt").string() + "\"";
  const std::string dest = "\"" + destination().string() + "/\"";
  for (const std::string& line : {std::string(""), "-xv " + archive, "-x " + archive + " " + dest,
                                  "-xv -o " + archive + " " + dest, "-xvf " + archive + " " + dest,
                                  "-xv " + archive + " " + dest + " extra", "-xv \"" + archive}) {
    const ArchiverResult result = callArchiver("libunzip32.so", "UnZip", line);
    EXPECT_EQ(result.code, kBadCommandLine) << line;
    EXPECT_FALSE(result.output.empty()) << line;
  }
  EXPECT_EQ(unzip("a.txt").code, kCannotOpen);
  EXPECT_EQ(unzip("missing.zip").code, kCannotOpen);
  EXPECT_FALSE(std::filesystem::exists(destination()));
}

TEST_F(UnZipTest, DataPastTheDeclaredSizeIsCorrupt) {
  const std::string archive =
      std::string(PARVO_CORPUS_DIR) + "/zip/libarchive/zip_size_exceeds_declared_deflate.zip";
  if (!std::filesystem::exists(archive)) GTEST_SKIP() << "corpus not present";
  std::filesystem::copy_file(archive, path("bomb.zip"));
  const ArchiverResult result = unzip("bomb.zip");
  EXPECT_EQ(result.code, kCorrupt) << result.output;
  EXPECT_EQ(snapshot(destination()).count("first"), 0U);
}

}  // namespace
