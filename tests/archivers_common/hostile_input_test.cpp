// Hostile and damaged input through each library's entry point. Whatever happens, nothing lands
// outside the destination and nothing half-written inside it.
#include <grp.h>
#include <sys/resource.h>

#include "arj/arj_headers.h"
#include "cab/sfx_stub/sfx_trailer.h"
#include "cab/stored_cabinet.h"
#include "common/byte_order.h"
#include "lzh/lzh_fixtures.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/watchdog.h"

namespace {

using archivers::loadLe16;
using archivers::loadLe64;
using archivers::storeLe16;
using archivers::storeLe64;
using Names = std::vector<std::string>;

// work/hostile.FORMAT as write_archive.py makes it of the members.
fs::path pythonArchive(const std::string& format, const TemporaryFolder& work,
                       const Names& members) {
  std::string line = "python3 " PARVO_SOURCE_DIR "/tests/support/write_archive.py " + format +
                     " hostile." + format;
  for (const std::string& member : members) line += " '" + member + "'";
  runShell(line, work.path());
  return work / ("hostile." + format);
}

// ARJ members renamed after the arj tool wrote them, which it would not do itself.
// The last one holds "kept", the others "bad".
fs::path arjWithNames(const TemporaryFolder& work, const Names& names) {
  Names command = {"arj", "a", "-y", "made.arj"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    command.push_back("m" + std::to_string(i));
    writeFile(work / ("src/" + command.back()), i + 1 == names.size() ? "kept" : "bad");
  }
  runTool(command, work / "src");
  std::string archive = readFile(work / "src/made.arj");
  for (std::size_t i = 0; i < names.size(); ++i)
    archive = arj_test::withName(archive, i + 1, names[i]);
  writeFile(work / "hostile.arj", archive);
  return work / "hostile.arj";
}

struct UnsafeCase {
  const char* label;
  Archiver archiver;
  // Writes the archive into work, where outside/secret.txt stands beside the destination out/.
  std::function<fs::path(const TemporaryFolder& work)> make;
  const char* message;  // part of the explanation
  Contents landed;      // everything under out/ afterwards
};

TEST(HostileInput, UnsafeNamesAndLinksAreRefusedAndTheRestExtracted) {
  const auto absolute = [](const TemporaryFolder& work) { return work / "outside/absolute.txt"; };
  const UnsafeCase cases[] = {
      {"cab",
       kCab,
       [&](const TemporaryFolder& work) {
         writeFile(work / "hostile.cab",
                   cabtest::handMadeCabinet({{"..\\outside\\climb.txt", "bad"},
                                             {absolute(work), "bad"},
                                             {"safe\\..\\..\\climb.txt", "bad"},
                                             {"C:\\drive.txt", "bad"},
                                             {"good\\kept.txt", "kept"}}));
         return work / "hostile.cab";
       },
       "unsafe",
       {{"good", "<dir>"}, {"good/kept.txt", "kept"}}},
      // Names stored from the root land inside: LZH archivers have always stored them so.
      {"lzh names",
       kLzh,
       [](const TemporaryFolder&) { return fs::path(lzhFixture("hostile_names.lzh")); },
       "climb.txt",
       {{"rooted.txt", "rooted\n"}, {"ok.txt", "ok\n"}}},
      // "up -> ..", "abs -> /etc/passwd", then up/evil.txt: the refused link leaves room for a
      // real folder.
      {"lzh links",
       kLzh,
       [](const TemporaryFolder&) { return fs::path(lzhFixture("symlinks.lzh")); },
       "skipped 2 unsafe entries",
       {{"target.txt", "target\n"},
        {"inside", "-> target.txt"},
        {"up", "<dir>"},
        {"up/evil.txt", "through the link\n"}}},
      // Levels 0 and 1 end a name at a NUL, a comment following it; level 2 keeps the NUL.
      {"lzh NUL names",
       kLzh,
       [](const TemporaryFolder&) { return fs::path(lzhFixture("nul_names.lzh")); },
       "skipped 3 unsafe entries, first: absolute or climbing name: ..",
       {{"kept.txt", "kept\n"}}},
      {"arj",
       kArj,
       [&](const TemporaryFolder& work) {
         return arjWithNames(work, {"../outside/climb.txt", "sub\\..\\..\\outside\\climb.txt",
                                    absolute(work), "kept.txt"});
       },
       "unsafe",
       {{"kept.txt", "kept"}}},
      {"zip",
       kZip,
       [&](const TemporaryFolder& work) {
         return pythonArchive(
             "zip", work,
             {"../outside/climb.txt=bad", "..\\outside\\climb2.txt=bad", absolute(work) + "=bad",
              "link->../outside", "link/evil.txt=through the link", "safe.txt=safe"});
       },
       "unsafe",
       {{"link", "<dir>"}, {"link/evil.txt", "through the link"}, {"safe.txt", "safe"}}},
      {"tar",
       kTar,
       [&](const TemporaryFolder& work) {
         return pythonArchive(
             "tar", work,
             {"../outside/climb.txt=bad", absolute(work) + "=bad", "link->../outside",
              "link/evil.txt=through the link", "hard=>" + work / "outside/secret.txt",
              "hard=overwritten", "relative=>../outside/secret.txt", "safe.txt=safe"});
       },
       "unsafe",
       {{"link", "<dir>"},
        {"link/evil.txt", "through the link"},
        {"hard", "overwritten"},
        {"safe.txt", "safe"}}},
  };
  for (const UnsafeCase& test : cases) {
    SCOPED_TRACE(test.label);
    TemporaryFolder work;
    writeFile(work / "outside/secret.txt", "secret");
    const fs::path archive = test.make(work);
    const ArchiverResult result = extractWith(test.archiver, archive, work / "out");
    EXPECT_EQ(result.code, kEntriesRefused) << result.output;
    EXPECT_NE(result.output.find(test.message), std::string::npos) << result.output;
    EXPECT_EQ(entriesIn(work / "out"), test.landed);
    EXPECT_EQ(entriesIn(work / "outside"), (Contents{{"secret.txt", "secret"}}));
    EXPECT_EQ(strayNames(work.path(), {"out", "outside", "src", archive.filename().string()}),
              Names{});
  }
}

// Three files, the middle one large, for the peer tools' archives that damage is aimed at.
const Contents kThreeFiles = {
    {"a.txt", "first\n"}, {"big.txt", varyingText(200 * 1024)}, {"z.txt", "last\n"}};

// What a flipped bit inside the large member's data costs.
enum class FlipCost {
  kNotSeen,       // no checksum covers the data (plain TAR)
  kWholeStream,   // the gzip stream's checksum, which covers every member (TAR.gz)
  kThatMember,    // the member's own checksum: only it is left out, and it is named
  kRestOfFolder,  // it and the members after it in its folder are left out, it is named (CAB)
};

struct DamageCase {
  Archiver archiver;
  const char* pack;  // shell line run in src/, writing ../packed.EXT
  const char* archive;
  FlipCost flip;
  bool tailMayGo = false;  // its last bytes are padding, or a field no reader needs (ZIP)
  // Cut before its directory, the archive is left to libarchive, which has no Deflate64.
  bool cutIsUnsupported = false;
};

// The peer tools' archives of three files, the middle one large, cut at many lengths and with
// a bit flipped at many places in the large member's data.
TEST(HostileInput, DamageIsReportedAndLeavesOnlyWholeFiles) {
  const Contents& files = kThreeFiles;
  const Contents others = {{"a.txt", "first\n"}, {"z.txt", "last\n"}};
  const DamageCase cases[] = {
      {kArj, "arj a -m1 -y ../packed.arj a.txt big.txt z.txt", "packed.arj", FlipCost::kThatMember},
      {kArj, "arj a -m4 -y ../packed.arj a.txt big.txt z.txt", "packed.arj", FlipCost::kThatMember},
      {kCab, "gcab -c -z ../packed.cab a.txt big.txt z.txt", "packed.cab", FlipCost::kRestOfFolder},
      {kLzh, "jlha c ../packed.lzh a.txt big.txt z.txt", "packed.lzh", FlipCost::kThatMember},
      {kZip, "zip -q ../packed.zip a.txt big.txt z.txt", "packed.zip", FlipCost::kThatMember, true},
      {kZip, "zip -q -fz - a.txt big.txt z.txt > ../packed.zip", "packed.zip",
       FlipCost::kThatMember, true},
      {kZip, "7zz a -tzip -mm=Deflate64 ../packed.zip a.txt big.txt z.txt > /dev/null",
       "packed.zip", FlipCost::kThatMember, true, true},
      {kTar, "tar -czf ../packed.tar a.txt big.txt z.txt", "packed.tar", FlipCost::kWholeStream},
      {kTar, "tar -cf ../packed.tar a.txt big.txt z.txt", "packed.tar", FlipCost::kNotSeen, true},
  };
  TemporaryFolder source;
  writeFiles(source / "src", files);
  for (const DamageCase& test : cases) {
    SCOPED_TRACE(test.pack);
    TemporaryFolder work;
    fs::copy(source / "src", work / "src");
    runShell(test.pack, work / "src");
    const std::string good = readFile(work / test.archive);
    const auto extract = [&](const std::string& bytes) {
      fs::remove_all(work / "out");
      writeFile(work / test.archive, bytes);
      const ArchiverResult result = extractWith(test.archiver, work / test.archive, work / "out");
      EXPECT_FALSE(result.output.empty());
      EXPECT_EQ(strayNames(work.path(), {"out", "src", test.archive}), Names{});
      return result;
    };

    const std::size_t lastCut = test.tailMayGo ? good.size() * 9 / 10 : good.size() - 2;
    for (std::size_t cut = 10; cut <= lastCut; cut += std::max<std::size_t>(lastCut / 23, 1)) {
      SCOPED_TRACE("cut at " + std::to_string(cut));
      const ArchiverResult result = extract(good.substr(0, cut));
      // Once the archive is known for what it is, a cut is damage.
      if (cut >= good.size() / 2) {
        EXPECT_EQ(result.code, test.cutIsUnsupported ? kUnsupported : kCorrupt) << result.output;
      } else {
        EXPECT_NE(result.code, kOk) << result.output;
      }
      expectOnlyIntactFiles(work / "out", files);
    }
    if (test.flip == FlipCost::kNotSeen) continue;
    for (std::size_t at = good.size() * 3 / 10; at < good.size() * 7 / 10; at += good.size() / 23) {
      SCOPED_TRACE("bit flipped at " + std::to_string(at));
      std::string damaged = good;
      damaged[at] = static_cast<char>(damaged[at] ^ 0x10);
      const ArchiverResult result = extract(damaged);
      const bool wholeStream = test.flip == FlipCost::kWholeStream;
      EXPECT_EQ(result.code, kCorrupt) << result.output;
      EXPECT_NE(result.output.find(wholeStream ? "gzip data is damaged" : "big.txt"),
                std::string::npos)
          << result.output;
      if (wholeStream) continue;
      const Contents landed =
          test.flip == FlipCost::kThatMember ? others : Contents{{"a.txt", "first\n"}};
      EXPECT_EQ(filesIn(work / "out"), landed);
    }
  }
}

// What only the central directory and the local headers together show. Only that member is left
// out, and named; an end record that miscounts the directory's entries is damage, and every entry
// is still read.
TEST(HostileInput, ZipMembersTheDirectoryDoesNotVouchForAreLeftOut) {
  const auto bytesAt = [](std::string& zip, std::size_t at) {
    return reinterpret_cast<std::uint8_t*>(zip.data() + at);
  };
  const auto at = [](std::string& bytes, const std::string& signature, std::size_t nameOffset) {
    for (std::size_t found = bytes.find(signature); found != std::string::npos;
         found = bytes.find(signature, found + 1)) {
      if (bytes.compare(found + nameOffset, 7, "big.txt") == 0) return found;
    }
    throw std::runtime_error("no header for big.txt");
  };
  const auto local = [&](std::string& bytes) { return at(bytes, "PK\3\4", 30); };
  const auto central = [&](std::string& bytes) { return at(bytes, "PK\1\2", 46); };
  // The first value of big.txt's ZIP64 field: in the local header its size, then its stored size;
  // in the directory only its size, the one field zip -fz puts there.
  const auto zip64Sizes = [&](std::string& zip, std::size_t header, std::size_t fixedSize) {
    const std::size_t field = header + fixedSize + 7;
    if (loadLe16(bytesAt(zip, field)) != 1) throw std::runtime_error("no ZIP64 field");
    return field + 4;
  };
  // big.txt stated this much longer than its stored data in both headers.
  const auto statedLonger = [&](std::uint64_t extra) {
    return [&, extra](std::string& zip) {
      const std::size_t size = zip64Sizes(zip, local(zip), 30);
      const std::uint64_t stated = loadLe64(bytesAt(zip, size + 8)) + extra;
      storeLe64(bytesAt(zip, size), stated);
      storeLe64(bytesAt(zip, zip64Sizes(zip, central(zip), 46)), stated);
    };
  };
  const char* const disagrees = "local header disagrees with the central directory: big.txt";
  const struct {
    const char* label;
    std::function<void(std::string&)> damage;
    const char* message;
    bool stored64 = false;  // in the archive zip -0 -fz writes, else plain zip's
    bool bigLands = false;
  } cases[] = {
      {"name", [&](std::string& zip) { zip[local(zip) + 30] = 'B'; }, disagrees},
      {"CRC", [&](std::string& zip) { zip[local(zip) + 14] ^= 1; }, disagrees},
      // Read as the directory says, the data would come out as what it is not.
      {"method", [&](std::string& zip) { zip[local(zip) + 8] = 8; }, disagrees, true},
      {"encryption", [&](std::string& zip) { zip[local(zip) + 6] |= 1; }, disagrees},
      {"size", [&](std::string& zip) { zip[central(zip) + 23] = 0x7F; },
       "member data runs past the central directory: big.txt"},
      {"stored size padded", statedLonger(1000), "stored member's sizes disagree: big.txt", true},
      // Off by a multiple of 4 GiB, as some writers state it: the hole would pass any limit.
      {"stored size past the file system", statedLonger(std::uint64_t{1} << 63),
       "larger than the file system can hold: big.txt", true},
      {"overlap",
       [&](std::string& zip) {
         const std::size_t entry = central(zip);
         const std::size_t length = 46 + 7 + static_cast<unsigned char>(zip[entry + 30]);
         zip.insert(entry, zip.substr(entry, length));
         const std::size_t end = zip.rfind("PK\5\6");
         zip[end + 8] = static_cast<char>(zip[end + 8] + 1);
         zip[end + 10] = static_cast<char>(zip[end + 10] + 1);
         zip[end + 12] = static_cast<char>(zip[end + 12] + length);
       },
       "overlaps another member's data: big.txt", false, true},
      {"entry count",
       [&](std::string& zip) {
         const std::size_t end = zip.rfind("PK\5\6");
         storeLe16(bytesAt(zip, end + 8), 1);
         storeLe16(bytesAt(zip, end + 10), 1);
       },
       "entry count 1 in the end record, 3 in the central directory", false, true},
      {"ZIP64 entry count",
       [&](std::string& zip) {
         const std::size_t end = zip.rfind("PK\6\6");
         storeLe64(bytesAt(zip, end + 24), 0);
         storeLe64(bytesAt(zip, end + 32), 0);
       },
       "entry count 0 in the end record, 3 in the central directory", true, true},
  };
  const Contents& files = kThreeFiles;
  TemporaryFolder work;
  writeFiles(work / "src", files);
  runShell("zip -q -X ../packed.zip a.txt big.txt z.txt", work / "src");
  runShell("zip -q -X -0 -fz ../stored64.zip a.txt big.txt z.txt", work / "src");
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    std::string damaged = readFile(work / (test.stored64 ? "stored64.zip" : "packed.zip"));
    test.damage(damaged);
    writeFile(work / "damaged.zip", damaged);
    fs::remove_all(work / "out");
    const ArchiverResult result = extractWith(kZip, work / "damaged.zip", work / "out");
    EXPECT_EQ(result.code, kCorrupt);
    EXPECT_EQ(result.output, test.message);
    Contents landed = files;
    if (!test.bigLands) landed.erase("big.txt");
    EXPECT_EQ(filesIn(work / "out"), landed);
  }
}

// Missing, no archive, or a FIFO, which would block whoever opens it for reading: refused at
// once, and no destination is made.
TEST(HostileInput, WhatIsNoArchiveCannotBeOpened) {
  TemporaryFolder work;
  writeFile(work / "noise", noise(10000, 3));
  ASSERT_EQ(mkfifo((work / "fifo").c_str(), 0600), 0);
  for (const Archiver& archiver : {kCab, kLzh, kZip, kTar, kArj}) {
    for (const char* name : {"missing", "noise", "fifo"}) {
      SCOPED_TRACE(std::string(archiver.library) + " " + name);
      const int code = exitStatusInChild(
          10, [&] { return extractWith(archiver, work / name, work / "out").code; });
      EXPECT_EQ(code, kCannotOpen);
    }
    const ArchiverResult missing = extractWith(archiver, work / "missing", work / "out");
    EXPECT_NE(missing.output.find("missing"), std::string::npos) << missing.output;
  }
  EXPECT_FALSE(fs::exists(work / "out"));
}

TEST(HostileInput, CommandLinesALibraryDoesNotTakeAreRefused) {
  TemporaryFolder work;
  writeFile(work / "a.txt", "not an archive");
  const std::string a = "\"" + (work / "a.txt") + "\"";
  const std::string d = "\"" + (work / "out") + "/\"";
  const std::pair<Archiver, Names> cases[] = {
      {kCab,
       {"", "-x -o -r " + a, "-x -o -r " + a + " " + d + " extra", "-x -q -o -r " + a + " " + d,
        "-z " + a + " " + d, "-x -o -r \"" + a + " " + d, "-a -r -ml:21 " + a}},
      {kZip,
       {"", "-xv " + a, "-x " + a + " " + d, "-xv -o " + a + " " + d, "-xvf " + a + " " + d,
        "-xv " + a + " " + d + " extra", "-xv \"" + a}},
      {kTar, {"-xv " + a + " " + d, "-xvf " + a, "-cvf " + a + " " + d, "x " + a + " " + d}},
      {kLzh,
       {"", "x -rxy " + a + " " + d, "e -rxyz " + a + " " + d, "a -rx " + a + " *.txt",
        "a -rxy " + a + " *.*", "a -rx " + a, "a -rx " + a + " *.* more", "e -rxy " + a,
        "e " + a + " " + d}},
      {kArj,
       {"e -u " + a + " " + d, "x " + a + " " + d, "x -u -r " + a + " " + d, "x -u " + a,
        "x -u " + a + " " + d + " extra", "x -u \"" + a}},
  };
  for (const auto& [archiver, lines] : cases) {
    for (const std::string& line : lines) {
      const ArchiverResult result = callArchiver(archiver, line);
      EXPECT_EQ(result.code, kBadCommandLine) << line;
      EXPECT_FALSE(result.output.empty()) << line;
    }
  }
  EXPECT_FALSE(fs::exists(work / "out"));
  EXPECT_EQ(readFile(work / "a.txt"), "not an archive");
}

// Our writers with the options Parvo packs with: a clean pack's summary, and the explanation for
// the tree of WritersNameWhatTheyLeaveOut.
const struct Writer {
  Archiver archiver;
  const char *options, *archive, *summary, *leftOut;
} kWriters[] = {
    {kCab, "-a -r -ml:21", "packed.cab", "2 files packed into packed.cab",
     "8 items were left out of the archive: \\ in the name, a folder separator in cabinets: "
     "Q1\\summary.txt; link to nothing: dangling; link to a folder: folder link; and 5 more (5 "
     "files packed)"},
    {kLzh, "a -rx", "packed.lzh", "2 files and 1 folder packed into packed.lzh",
     "6 items were left out of the archive: \\ or byte 0xFF in the name, a folder separator in "
     "LZH: Q1\\summary.txt; link to nothing: dangling; link to a folder: folder link; and 3 more "
     "(8 files and 4 folders packed)"},
};

ArchiverResult packWith(const Writer& writer, const fs::path& folder, const std::string& archive) {
  return packIn(folder, writer.archiver, std::string(writer.options) + " \"" + archive + "\" *.*");
}

constexpr uid_t kNobody = 65534;

// Written into the folder being packed, over one packed there before, neither the archive under
// construction nor the old one is packed; a pack that fails (unreadable, or a file size limit,
// which holds for root too) leaves the old archive as it was, and nothing beside it.
TEST(HostileInput, WritersNeverPackThemselvesAndFailuresKeepTheOldArchive) {
  const struct {
    const char* unreadable;  // or the disk fills up
    std::int32_t code;
  } failures[] = {
      {"locked.txt", kCannotOpen}, {"locked folder", kCannotOpen}, {nullptr, kWriteFailed}};
  for (const Writer& writer : kWriters) {
    const std::string name = writer.archive;
    SCOPED_TRACE(name);
    TemporaryFolder work;
    writeFiles(work / "source", {{"a.txt", "a\n"}, {"b/c.txt", "c\n"}});
    for (int run = 0; run < 2; ++run) {
      const ArchiverResult result = packWith(writer, work / "source", name);
      ASSERT_EQ(result.code, kOk) << result.output;
      EXPECT_EQ(result.output, writer.summary);
    }
    EXPECT_EQ(strayNames(work / "source", {"a.txt", "b", name}), Names{});
    ASSERT_EQ(extractWith(writer.archiver, work / ("source/" + name), work / "out").code, kOk);
    EXPECT_EQ(filesIn(work / "out"), (Contents{{"a.txt", "a\n"}, {"b/c.txt", "c\n"}}));

    for (const auto& [unreadable, code] : failures) {
      SCOPED_TRACE(unreadable ? unreadable : "disk full");
      TemporaryFolder failing;
      writeFiles(failing / "source", {{"a.txt", "a\n"},
                                      {"locked.txt", "x"},
                                      {"locked folder/f", "f"},
                                      {"big.bin", noise(300000, 1)}});
      writeFile(failing / ("dest/" + name), "the old archive");
      // Root reads whatever the mode: as root, the pack runs as nobody, who owns the tree.
      const bool asNobody = unreadable && geteuid() == 0;
      if (asNobody) {
        ASSERT_EQ(lchown(failing.path().c_str(), kNobody, kNobody), 0);
        for (const auto& entry : fs::recursive_directory_iterator(failing.path()))
          ASSERT_EQ(lchown(entry.path().c_str(), kNobody, kNobody), 0);
      }
      if (unreadable) fs::permissions(failing.path() / "source" / unreadable, fs::perms::none);
      const std::string expected =
          unreadable ? std::string("cannot read, Permission denied: ") + unreadable : "";
      EXPECT_EQ(exitStatusInChild(60,
                                  [&] {
                                    signal(SIGXFSZ, SIG_IGN);
                                    const rlimit limit{100000, 100000};
                                    if (!unreadable) setrlimit(RLIMIT_FSIZE, &limit);
                                    if (asNobody && (setgroups(0, nullptr) != 0 ||
                                                     setgid(kNobody) != 0 || setuid(kNobody) != 0))
                                      return 101;
                                    const ArchiverResult result = packWith(
                                        writer, failing / "source", failing / ("dest/" + name));
                                    if (unreadable && result.output != expected) return 100;
                                    return static_cast<int>(result.code);
                                  }),
                code);
      EXPECT_EQ(readFile(failing / ("dest/" + name)), "the old archive");
      EXPECT_EQ(strayNames(failing / "dest", {name}), Names{});
      if (unreadable) fs::permissions(failing.path() / "source" / unreadable, fs::perms::owner_all);
    }
  }
}

// Whatever a writer cannot hold is left out and named, reason first, and the call returns its own
// result. An earlier self-extracting program made from a cabinet of the same name is left out too.
TEST(HostileInput, WritersNameWhatTheyLeaveOut) {
  const auto trailer = [](std::uint64_t size) {
    const auto bytes = archivers::cab::SfxTrailer{0, size}.encode();
    return std::string(bytes.begin(), bytes.end());
  };
  for (const Writer& writer : kWriters) {
    SCOPED_TRACE(writer.archive);
    TemporaryFolder work;
    const fs::path source = work / "source";
    // 255 bytes, 256 bytes, and two in a folder of 254 bytes.
    const Contents longPaths = {{"long/" + std::string(250, 'a'), "255\n"},
                                {"long/" + std::string(251, 'b'), "256\n"},
                                {"long/" + std::string(249, 'c') + "/1", "1\n"},
                                {"long/" + std::string(249, 'c') + "/2", "2\n"}};
    writeFiles(source, longPaths);
    writeFiles(source, {{"real/deep/a.txt", "a\n"},
                        {"Q1\\summary.txt", "q\n"},
                        {"\xFF-data.txt", "ff\n"},
                        {"other.run", "a user's program" + trailer(3)},
                        {"packed.run", "an old program" + trailer(3)}});
    writeFile(work / "outside.txt", "not to be packed\n");
    fs::create_symlink("../outside.txt", source / "outside link");
    fs::create_symlink("nowhere", source / "dangling");
    fs::create_symlink("real", source / "folder link");
    fs::create_symlink("real/deep/a.txt", source / "file link");
    ASSERT_EQ(mkfifo((source / "pipe").c_str(), 0600), 0);

    const ArchiverResult result = packWith(writer, source, writer.archive);
    EXPECT_EQ(result.code, kLeftOut);
    EXPECT_EQ(result.output, writer.leftOut);
    ASSERT_EQ(extractWith(writer.archiver, source / writer.archive, work / "out").code, kOk);
    // Byte 0xFF is no separator in a cabinet; as a CP932 name it comes back in whatever form the
    // reader gives it, so only its bytes are compared.
    Contents landed = filesIn(work / "out");
    for (auto it = landed.begin(); it != landed.end();) {
      it = it->second == "ff\n" ? landed.erase(it) : std::next(it);
    }
    const bool cabinet = writer.archiver.library == kCab.library;
    Contents expected = {{"real/deep/a.txt", "a\n"},
                         {"file link", "a\n"},
                         {"other.run", "a user's program" + trailer(3)}};
    if (cabinet) {
      expected.insert(*longPaths.begin());
    } else {
      expected["packed.run"] = "an old program" + trailer(3);
      expected.insert(longPaths.begin(), longPaths.end());
    }
    EXPECT_EQ(landed, expected);
  }
}

}  // namespace

// A link that stays inside on paper and dangles when made, "x -> y/y/y/../../..", turns outward
// once "y -> ." follows. A job killed after that, with any signal, never reaches an end-of-run
// sweep: the link must never have been made. Killed at many points, nothing in the destination
// leads outside it.
TEST(HostileInput, NoLinkLeadsOutsideWheneverTheJobDies) {
  TemporaryFolder work;
  Names members = {"x->y/y/y/../../..", "y->.", "z->y/kept.txt", "kept.txt=kept"};
  for (int i = 0; i < 400; ++i) members.push_back("fill" + std::to_string(i) + ".txt=f");
  members.push_back("w->y/y/../..");
  const fs::path archive = pythonArchive("tar", work, members);
  const fs::path out = work / "a/b/out";
  const auto extractUntilKilled = [&](int signal, std::chrono::microseconds after) {
    fs::remove_all(work / "a");
    const pid_t child = fork();
    if (child == 0) _exit(extractWith(kTar, archive, out).code);
    if (after.count() > 0) {
      std::this_thread::sleep_for(after);
      kill(child, signal);
    }
    int status = 0;
    waitpid(child, &status, 0);
    const std::string resolvedOut = fs::weakly_canonical(out).string() + "/";
    for (const auto& [name, node] : snapshot(out)) {
      if (!fs::is_symlink(out / name)) continue;
      char* resolved = realpath((out / name).c_str(), nullptr);
      if (resolved == nullptr) continue;  // dangling or looping: leads nowhere
      EXPECT_TRUE((std::string(resolved) + "/").starts_with(resolvedOut))
          << name << " -> " << resolved;
      free(resolved);
    }
  };
  const auto start = std::chrono::steady_clock::now();
  extractUntilKilled(SIGKILL, {});
  const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  EXPECT_EQ(readFile(out / "kept.txt"), "kept");
  EXPECT_EQ(fs::read_symlink(out / "z"), "y/kept.txt");
  for (int signal : {SIGKILL, SIGTERM}) {
    for (int point = 1; point <= 12; ++point) {
      SCOPED_TRACE(std::to_string(signal) + " at " + std::to_string(point) + "/12");
      extractUntilKilled(signal, whole * point / 12);
    }
  }
}

// What the archive says of permissions survives extraction, narrowed by the umask and never
// widened: a private file stays private, a read-only one read-only, set-user-ID goes.
TEST(HostileInput, ExtractionKeepsPermissionsNeverWider) {
  const struct {
    Archiver archiver;
    const char* peer;  // run in src/, writing ../packed.EXT; or our writer with these options
    const char* archive;
    unsigned secret, folder;  // the modes expected; a folder's 0 when the format keeps none
  } cases[] = {
      {kZip, "zip -qr ../packed.zip secret ro.txt private", "packed.zip", 0600, 0700},
      {kTar, "tar -cf ../packed.tar secret ro.txt private", "packed.tar", 0600, 0700},
      {kArj, "arj a -r -y ../packed.arj secret ro.txt private", "packed.arj", 0600, 0},
      {kLzh, "a -rx", "packed.lzh", 0600, 0700},      // our own writer: jlha keeps no modes
      {kCab, "-a -r -ml:21", "packed.cab", 0644, 0},  // only read-only and executable
  };
  // Set-user-ID included; a missing entry's unknown permissions match none expected.
  const auto mode = [](const fs::path& path) {
    return static_cast<unsigned>(fs::symlink_status(path).permissions());
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.archive);
    TemporaryFolder work;
    writeFiles(work / "src", {{"secret", "s"}, {"ro.txt", "r"}, {"private/tool", "#!"}});
    fs::permissions(work / "src/secret", fs::perms(0600));
    fs::permissions(work / "src/ro.txt", fs::perms(0444));
    chmod((work / "src/private/tool").c_str(), 04755);
    fs::permissions(work / "src/private", fs::perms(0700));
    if (std::string_view(test.peer).find("../") != std::string_view::npos) {
      runShell(test.peer, work / "src");
    } else {
      const std::string line = std::string(test.peer) + " \"../" + test.archive + "\" *.*";
      ASSERT_EQ(packIn(work / "src", test.archiver, line).code, kOk);
    }
    ASSERT_EQ(extractWith(test.archiver, work / test.archive, work / "out").code, kOk);
    EXPECT_EQ(mode(work / "out/secret"), test.secret);
    EXPECT_EQ(mode(work / "out/ro.txt"), 0444U);
    if (fs::exists(work / "out/private/tool")) {
      EXPECT_EQ(mode(work / "out/private/tool"), 0755U);
    }
    if (test.folder != 0) {
      EXPECT_EQ(mode(work / "out/private"), test.folder);
    }
  }
}
