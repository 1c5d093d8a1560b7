#include <locale.h>

#include "support/round_trip.h"
#include "support/sample_files.h"

namespace {

namespace fs = std::filesystem;

// The sample tree with an empty folder beside it, under work/source.
Tree makeSource(const TemporaryFolder& work) {
  writeFiles(work / "source", sampleFiles());
  fs::create_directories(work / "source/empty folder");
  return snapshot(work / "source");
}

TEST(UnZip, ExtractsEveryMethodPeerToolsWrite) {
  TemporaryFolder work;
  const Tree expected = makeSource(work);
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
    expectRoundTrip(kZip, work, command, "a.zip", expected);
  }
}

TEST(UnZip, KeepsLinksThatStayInside) {
  TemporaryFolder work;
  writeFiles(work / "source", {{"folder/target.txt", "target"}});
  fs::create_symlink("folder/target.txt", work / "source/link");
  const Tree expected = snapshot(work / "source");
  for (const char* command :
       {"zip -q -r -y ../a.zip .", "bsdtar --format zip -cf ../a.zip .", "7zz a -snl ../a.zip ."}) {
    expectRoundTrip(kZip, work, command, "a.zip", expected);
  }
}

TEST(UnZip, ReadsZip64FromAStreamingWriter) {
  // zip writes Zip64 sizes for data it reads from a pipe, not knowing its length beforehand.
  TemporaryFolder work;
  runShell("yes streamed | head -c 2000000 | zip -q stream.zip -", work.path());
  ASSERT_EQ(extractWith(kZip, work / "stream.zip", work / "out").code, kOk);
  const Contents files = filesIn(work / "out");
  ASSERT_EQ(files.count("-"), 1U);
  EXPECT_EQ(files.at("-").size(), 2000000U);
  EXPECT_EQ(files.at("-").substr(0, 9), "streamed\n");
}

TEST(UnZip, DecodesCp932AndUtf8NamesWhateverTheCallersLocale) {
  // "表示\ソフト.txt" in CP932: the trail bytes of 表 and ソ are 0x5C, a backslash in ASCII.
  TemporaryFolder work;
  runTool({"python3", ZIP_TEST_DIR "/write_named_zip.py", "names.zip",
           "0:955c8ea65c835c837483672e747874=cp932",
           "1:757466382fe5908de5898d2e747874=utf8"},  // "utf8/名前.txt", flagged UTF-8
          work.path());
  const locale_t before = uselocale(static_cast<locale_t>(0));
  const ArchiverResult result = extractWith(kZip, work / "names.zip", work / "out");
  EXPECT_EQ(uselocale(static_cast<locale_t>(0)), before);
  ASSERT_EQ(result.code, kOk) << result.output;
  EXPECT_EQ(entriesIn(work / "out"), (Contents{{"表示", "<dir>"},
                                               {"表示/ソフト.txt", "cp932"},
                                               {"utf8", "<dir>"},
                                               {"utf8/名前.txt", "utf8"}}));
}

TEST(UnZip, EncryptedAndDeflate64MembersAreUnsupportedTheRestLands) {
  TemporaryFolder work;
  makeSource(work);
  runShell("zip -q ../mixed.zip text.txt && zip -q -P secret ../mixed.zip run.sh", work / "source");
  ArchiverResult result = extractWith(kZip, work / "mixed.zip", work / "out");
  EXPECT_EQ(result.code, kUnsupported);
  EXPECT_NE(result.output.find("encrypt"), std::string::npos) << result.output;
  EXPECT_EQ(filesIn(work / "out"), (Contents{{"text.txt", sampleFiles().at("text.txt")}}));

  runTool({"7zz", "a", "-tzip", "-mm=Deflate64", "../d64.zip", "text.txt"}, work / "source");
  result = extractWith(kZip, work / "d64.zip", work / "d64");
  EXPECT_EQ(result.code, kUnsupported);
  EXPECT_NE(result.output.find("Unsupported ZIP compression method"), std::string::npos)
      << result.output;
  EXPECT_EQ(snapshot(work / "d64"), Tree{});
}

}  // namespace
