// What the peer tools write comes out of our ZIP reader exactly as out of the libarchive path,
// which it replaces for stored and deflated archives: names, bytes, modes, times, links, refusals.
#include <sys/stat.h>

#include "common/archive_input.h"
#include "common/extraction_sink.h"
#include "libarchive/libarchive_extraction.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/tree_snapshot.h"
#include "zip/zip_extraction.h"

namespace {

namespace fs = std::filesystem;

// Every entry under root with its type, permission bits, time and bytes or link text.
std::map<std::string, std::string> describe(const fs::path& root) {
  std::map<std::string, std::string> entries;
  std::error_code missing;
  for (fs::recursive_directory_iterator item(root, missing), end; item != end; ++item) {
    struct stat status {};
    lstat(item->path().c_str(), &status);
    std::string text = std::to_string(status.st_mode) + " ";
    if (S_ISLNK(status.st_mode)) {
      text += "-> " + fs::read_symlink(item->path()).string();
    } else {
      text += std::to_string(status.st_mtime) + " ";
      if (S_ISREG(status.st_mode)) text += readFile(item->path());
    }
    entries[item->path().lexically_relative(root).generic_string()] = text;
  }
  return entries;
}

std::pair<archivers::Result, std::string> outcome(const std::function<std::string()>& extract) {
  try {
    return {archivers::Result::kOk, extract()};
  } catch (const archivers::ArchiveError& error) {
    return {error.result(), error.what()};
  }
}

TEST(ZipReader, ExtractsWhatTheLibarchivePathExtracts) {
  // Shell lines run in work/source that write ../a.zip.
  const char* const writers[] = {
      "zip -q -r -y ../a.zip .",
      "zip -q -r -y -0 ../a.zip .",
      "zip -q -r -y -fz ../a.zip .",                                     // ZIP64 fields throughout
      "zip -q -r -y - . > ../a.zip",                                     // data descriptors
      "zip -q -r -y ../in.zip . && cat /bin/true ../in.zip > ../a.zip",  // prefix, offsets as is
      "zip -q -r -y ../in.zip . && cat /bin/true ../in.zip > ../a.zip && zip -q -A ../a.zip",
      "7zz a -snl -tzip -mtc=on ../a.zip . > /dev/null",  // NTFS times
      "7zz a -snl -tzip -mm=Copy ../a.zip . > /dev/null",
      "bsdtar --format zip -cf ../a.zip .",
      "bsdtar --format zip --options zip:compression=store -cf ../a.zip .",
      "python3 -c 'import shutil; shutil.make_archive(\"../p\", \"zip\", \".\")' && mv ../p.zip "
      "../a.zip",
      // CP932 names without a flag, one with the Unicode path field, one flagged UTF-8.
      "python3 " PARVO_SOURCE_DIR
      "/tests/libarchive/write_named_zip.py ../a.zip 0:955c8ea65c835c837483672e747874=cp932 "
      "0:3f3f2e747874=up@e5908d2e747874 1:757466382fe5908de5898d2e747874=utf8",
      // Unsafe names and links: the same refusals.
      "python3 " PARVO_SOURCE_DIR
      "/tests/support/write_archive.py zip ../a.zip '../climb.txt=bad' '/abs.txt=bad' "
      "'link->../outside' 'link/evil.txt=through the link' 'safe.txt=safe'",
  };
  TemporaryFolder work;
  writeFiles(work / "source", sampleFiles());
  fs::create_directories(work / "source/empty folder");
  fs::create_symlink("a/b/c/deep.txt", work / "source/link-to-deep");
  chmod((work / "source/a").c_str(), 0700);
  setMtime(work / "source/readme.txt", kSampleMtime + 1);  // odd: only an exact field keeps it
  for (const std::string writer : writers) {
    SCOPED_TRACE(writer);
    fs::remove_all(work / "ours");
    fs::remove_all(work / "libarchive");
    fs::remove(work / "a.zip");
    runShell(writer, work / "source");
    const std::string archive = work / "a.zip";
    archivers::FollowedCall call(nullptr);
    archivers::FileArchiveInput input(archive, call);
    const std::optional<archivers::zip::ZipDirectory> directory =
        archivers::zip::readZipDirectory(input);
    ASSERT_TRUE(directory) << "left to libarchive";
    const auto ours = outcome([&] {
      archivers::ExtractionSink sink(work / "ours", call);
      archivers::zip::extractZipMembers(input, *directory, sink);
      return sink.finish();
    });
    const auto theirs = outcome([&] {
      archivers::FileArchiveInput theirInput(archive, call);
      archivers::ExtractionSink sink(work / "libarchive", call);
      archivers::readWithLibarchive(theirInput, sink, archivers::ArchiveKind::kZip);
      return sink.finish();
    });
    EXPECT_EQ(ours, theirs);
    EXPECT_EQ(describe(work / "ours"), describe(work / "libarchive"));
    EXPECT_GE(describe(work / "ours").size(), 3u);
  }
}

}  // namespace
