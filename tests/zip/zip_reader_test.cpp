// What the peer tools write comes out of our ZIP reader exactly as out of the libarchive path,
// which it replaces for stored, deflated and Deflate64 archives: names, bytes, modes, links,
// refusals. Bytes and times come out as 7zz extracts them, and every name is valid UTF-8.

#include "common/archive_input.h"
#include "common/extraction_sink.h"
#include "common/utf8.h"
#include "libarchive/libarchive_extraction.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/tree_snapshot.h"
#include "zip/zip_extraction.h"

namespace {

// The type and permission bits of every entry under root.
std::map<std::string, mode_t> modesIn(const fs::path& root) {
  std::map<std::string, mode_t> modes;
  for (const auto& [name, node] : snapshot(root)) {
    struct stat status {};
    lstat((root / name).c_str(), &status);
    modes[name] = status.st_mode;
  }
  return modes;
}

// The files of a tree as time and bytes' hash, in order, whatever their names: the peer keeps names
// it cannot read as raw bytes.
std::vector<std::pair<std::int64_t, std::size_t>> filesOf(const Tree& tree) {
  std::vector<std::pair<std::int64_t, std::size_t>> files;
  for (const auto& [name, node] : tree) {
    if (node.type == 'f') files.emplace_back(node.mtime, std::hash<std::string>()(node.content));
  }
  std::ranges::sort(files);
  return files;
}

// Text that compresses, with runs of noise that writers store as they stand.
std::string generatedData(std::size_t size) {
  const std::string text = varyingText(1 << 20);
  std::string data;
  for (std::uint32_t seed = 1; data.size() < size; ++seed) {
    data += seed % 4 == 0 ? noise(40000, seed) : text.substr(seed * 7919 % (1 << 19), 90000);
  }
  data.resize(size);
  return data;
}

std::pair<archivers::Result, std::string> outcome(const std::function<std::string()>& extract) {
  try {
    return {archivers::Result::kOk, extract()};
  } catch (const archivers::ArchiveError& error) {
    return {error.result(), error.what()};
  }
}

struct Writer {
  std::string line;                             // run in the source folder; writes ../a.zip
  bool libarchiveReads = true;                  // libarchive has no Deflate64
  std::size_t generated = 0;                    // a source of one file of generated data, this long
  std::vector<std::string> expectedNames = {};  // names that must come out so
};

TEST(ZipReader, ExtractsWhatTheLibarchivePathAndThePeerExtract) {
  const std::string deflate64 = "7zz a -snl -tzip -mx=1 -mm=Deflate64 ../a.zip . > /dev/null";
  const std::string python =
      "python3 " PARVO_SOURCE_DIR "/tests/support/write_archive.py zip ../a.zip ";
  const Writer writers[] = {
      {"zip -q -r -y ../a.zip ."},
      {"zip -q -r -y -0 ../a.zip ."},
      {"zip -q -r -y -fz ../a.zip ."},  // ZIP64 fields throughout
      {"zip -q -r -y - . > ../a.zip"},  // data descriptors
      {"zip -q -r -y ../in.zip . && cat /bin/true ../in.zip > ../a.zip"},  // prefix, offsets as is
      {"zip -q -r -y ../in.zip . && cat /bin/true ../in.zip > ../a.zip && zip -q -A ../a.zip"},
      {"7zz a -snl -tzip -mtc=on ../a.zip . > /dev/null"},  // NTFS times, odd seconds kept
      {"7zz a -snl -tzip -mm=Copy ../a.zip . > /dev/null"},
      {"bsdtar --format zip -cf ../a.zip ."},
      {"bsdtar --format zip --options zip:compression=store -cf ../a.zip ."},
      // Deflate64 of small files, text and noise (stored blocks), and of 100 MB.
      {deflate64, false},
      {deflate64, false, 100 << 20},
      // A CP932 name without a flag whose trail bytes 0x5C are backslashes in ASCII, one with the
      // Unicode path field, one flagged UTF-8.
      {.line = python + "0x955c8ea65c835c837483672e747874=cp932 0x3f3f2e747874@e5908d2e747874=up " +
               "utf8/\u540d\u524d.txt=utf8",
       .expectedNames = {"\u8868\u793a/\u30bd\u30d5\u30c8.txt", "\u540d.txt",
                         "utf8/\u540d\u524d.txt"}},
      // A Western name without the flag: all of it CP437, none of it CP932.
      {.line = python + "0x43616682206e618b76652e747874=western",
       .expectedNames = {"Caf\u00e9 na\u00efve.txt"}},
  };
  TemporaryFolder work;
  writeFiles(work / "source", sampleFiles());
  fs::create_directories(work / "source/empty folder");
  fs::create_symlink("a/b/c/deep.txt", work / "source/link-to-deep");
  chmod((work / "source/a").c_str(), 0700);
  setMtime(work / "source/readme.txt", kSampleMtime + 1);  // odd: only an exact field keeps it
  for (const Writer& writer : writers) {
    SCOPED_TRACE(writer.line + (writer.generated ? " of " + std::to_string(writer.generated) : ""));
    for (const char* made : {"ours", "libarchive", "peer", "generated", "a.zip"})
      fs::remove_all(work / made);
    std::string source = work / "source";
    if (writer.generated > 0) {
      source = work / "generated";
      writeFiles(source, {{"data.bin", generatedData(writer.generated)}});
      setMtime(work / "generated/data.bin", kSampleMtime + 3);
    }
    runShell(writer.line, source);
    const std::string archive = work / "a.zip";
    archivers::FollowedCall call(nullptr);
    archivers::FileArchiveInput input(archive, call);
    const auto directory = archivers::zip::readZipDirectory(input);
    ASSERT_TRUE(directory) << "left to libarchive";
    const auto ours = outcome([&] {
      archivers::ExtractionSink sink(work / "ours", call);
      archivers::zip::extractZipMembers(input, *directory, sink);
      return sink.finish();
    });
    const Tree landed = snapshot(work / "ours");
    for (const auto& [name, node] : landed) EXPECT_TRUE(archivers::isValidUtf8(name)) << name;
    for (const std::string& name : writer.expectedNames) EXPECT_TRUE(landed.contains(name)) << name;
    if (writer.libarchiveReads) {
      const auto theirs = outcome([&] {
        archivers::FileArchiveInput theirInput(archive, call);
        archivers::ExtractionSink sink(work / "libarchive", call);
        archivers::readWithLibarchive(theirInput, sink, archivers::ArchiveKind::kZip);
        return sink.finish();
      });
      EXPECT_EQ(ours, theirs);
      // libarchive reads no NTFS field: times are held against the peer below.
      expectContents(entriesIn(work / "ours"), entriesIn(work / "libarchive"));
      EXPECT_EQ(modesIn(work / "ours"), modesIn(work / "libarchive"));
    }
    EXPECT_EQ(ours.first, archivers::Result::kOk) << ours.second;
    runTool({"7zz", "x", "-y", "-snl", "-o" + (work / "peer"), archive}, work.path());
    EXPECT_EQ(filesOf(landed), filesOf(snapshot(work / "peer")));
  }
}

}  // namespace
