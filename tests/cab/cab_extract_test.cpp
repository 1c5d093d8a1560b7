#include <algorithm>

#include "stored_cabinet.h"
#include "support/archiver_library.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/tree_snapshot.h"
#include "support/watchdog.h"

namespace cabtest {
namespace {

// An MSZIP folder whose blocks refer back across blocks, as the cabinet maker's own tool writes
// them (gcab's do not), with reserved bytes in every block header. The corpus holds each alone
// (cab_2.cab, reserve_--D.cab); together they reach only our MSZIP reader here.
TEST(CabExtract, MszipBlocksReferBackAcrossReservedBytes) {
  std::string repeated;
  for (int i = 0; i < 9; ++i) repeated += noise(24 * 1024, 7);
  const std::string after = varyingText(70000), first = noise(1000, 3);
  const std::string cabinet = handMadeCabinet(
      {{"first.bin", first}, {"repeated.bin", repeated}, {"dir\\after.txt", after}, {"empty", ""}},
      BlockCoding::kMszip, 20);
  ASSERT_LT(cabinet.size(), 100000u);  // the repeats were found across blocks
  TemporaryFolder work;
  writeFile(work / "m.cab", cabinet);
  ASSERT_EQ(extractWith(kCab, work / "m.cab", work / "out").code, kOk);
  EXPECT_EQ(filesIn(work / "out"), (Contents{{"first.bin", first},
                                             {"repeated.bin", repeated},
                                             {"dir/after.txt", after},
                                             {"empty", ""}}));
}

TEST(CabDamage, DamagedFieldsAreReportedAndOnlyWholeMembersLand) {
  const auto withRange = [](std::string cabinet, std::size_t index, std::uint32_t offset,
                            std::uint32_t size) {
    std::size_t entry = 44;  // past the header and the one folder entry
    while (index-- > 0) entry = cabinet.find('\0', entry + 16) + 1;
    return cabinet.replace(entry, 8, le(size, 4) + le(offset, 4));
  };
  const std::string whole = noise(100000, 5);
  // Members sharing data would let a few KiB of cabinet write the same bytes any number of times.
  const auto overlapping = [&](BlockCoding coding) {
    return withRange(withRange(handMadeCabinet({{"whole.bin", whole},
                                                {"twin.bin", ""},
                                                {"inside.bin", ""},
                                                {"after.txt", "after"}},
                                               coding),
                               1, 0, 100000),
                     2, 99999, 3);
  };
  const Contents overlapLanded = {{"whole.bin", whole}, {"after.txt", "after"}};
  const char* overlap = "overlaps another member's data";
  const struct {
    std::string cabinet;
    std::optional<std::int32_t> code;  // nothing: any failure
    const char* message;
    Contents landed;
  } cases[] = {
      {withRange(handMadeCabinet({{"short.txt", "only a few bytes"}}), 0, 0, 40000), {}, "", {}},
      {overlapping(BlockCoding::kStored), kCorrupt, overlap, overlapLanded},
      {overlapping(BlockCoding::kMszip), kCorrupt, overlap, overlapLanded},
      // Folder data past the end: the zlib decoder's state must be released (the asan run checks).
      {handMadeCabinet({{"a.txt", "some text"}}, BlockCoding::kMszip)
           .replace(36, 4, le(0x0fffffff, 4)),
       kCorrupt,
       "",
       {}},
      {handMadeCabinet({{"a.txt", "some text"}}).replace(42, 1, "\x05"),
       kUnsupported,
       "compression method 5 not supported: a.txt",
       {}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(&test - cases);
    TemporaryFolder work;
    writeFile(work / "damaged.cab", test.cabinet);
    const ArchiverResult result = extractWith(kCab, work / "damaged.cab", work / "out");
    EXPECT_EQ(result.code, test.code.value_or(result.code)) << result.output;
    EXPECT_NE(result.code, kOk);
    EXPECT_NE(result.output.find(test.message), std::string::npos) << result.output;
    expectContents(filesIn(work / "out"), test.landed);
  }
}

// A set's parts come from disk under names in another case than the cabinets give, from the first,
// a middle or the last part. A set missing a part lands only the members it holds whole, and says
// so; so does one with a FIFO where the part should be, which would block whoever opens it for
// reading.
TEST(CabSet, CabinetsAndPartsComeFromTheInputAndItsSiblings) {
  const fs::path corpus = fs::path(PARVO_CORPUS_DIR) / "cab/cabextract";
  if (!fs::exists(corpus / "split-1.cab")) GTEST_SKIP() << "corpus not present";
  TemporaryFolder work;
  runTool({"cabextract", "-q", "-d", work / "peer", (corpus / "split-1.cab").string()},
          work.path());
  const Contents complete = filesIn(work / "peer");
  ASSERT_EQ(complete.size(), 6u);
  for (const std::string number : {"1", "2", "3", "4", "5"}) {
    writeFile(work / ("set/SPLIT-" + number + ".CAB"),
              readFile(corpus / ("split-" + number + ".cab")));
  }
  for (const std::string part : {"SPLIT-1.CAB", "SPLIT-3.CAB", "SPLIT-5.CAB"}) {
    SCOPED_TRACE(part);
    fs::remove_all(work / "disk");
    const ArchiverResult result = extractWith(kCab, work / ("set/" + part), work / "disk");
    ASSERT_EQ(result.code, kOk) << result.output;
    expectContents(filesIn(work / "disk"), complete);
  }
  for (const bool fifo : {false, true}) {
    SCOPED_TRACE(fifo ? "FIFO" : "missing");
    fs::remove(work / "set/SPLIT-3.CAB");
    fs::remove_all(work / "out");
    ASSERT_EQ(fifo ? mkfifo((work / "set/SPLIT-3.CAB").c_str(), 0600) : 0, 0);
    const int status = exitStatusInChild(10, [&] {
      const ArchiverResult result = extractWith(kCab, work / "set/SPLIT-1.CAB", work / "out");
      return result.code == kUnsupported &&
             result.output.find("other cabinets") != std::string::npos;
    });
    EXPECT_EQ(status, 1);
    const Contents landed = filesIn(work / "out");
    EXPECT_FALSE(landed.empty());
    EXPECT_LT(landed.size(), complete.size());
    expectOnlyIntactFiles(work / "out", complete);
  }
}

ArchiverResult packFolder(const fs::path& folder, const fs::path& cabinet,
                          const std::string& method) {
  return packIn(folder, kCab, "-a -r " + method + " \"" + cabinet.string() + "\" *.*");
}

// The first count x86-64 programs or libraries in folder of minBytes to 4 * minBytes, by name.
std::vector<std::string> elfFiles(const fs::path& folder, std::uintmax_t minBytes,
                                  std::size_t count) {
  std::set<fs::path> found;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file() && !entry.is_symlink() && entry.file_size() >= minBytes &&
        entry.file_size() <= 4 * minBytes && readFile(entry.path()).starts_with("\177ELF")) {
      found.insert(entry.path());
    }
  }
  std::vector<std::string> contents;
  for (auto path = found.begin(); path != found.end() && contents.size() < count; ++path)
    contents.push_back(readFile(*path));
  return contents;
}

// Each window size, on data that finds its limits: a repeat exactly as far back as every reader
// reaches (window - 4; 7-Zip gets window - 3 wrong) and one just beyond it, runs longer than a
// match, noise, one exact 32 KiB frame, an odd-sized stored last frame, text around a stored frame
// with matches reaching over it, a long repeat whose positions stay out of the match finder, small
// files cut mid-frame, and shared libraries whose frames end anywhere in a 16-bit word (within the
// bits a reader looks ahead for the last code). Beside them, what any packed tree holds.
TEST(CabLzx, EveryWindowSizeRoundTripsThroughEveryReader) {
  const std::vector<std::string> libraries = elfFiles("/usr/lib/x86_64-linux-gnu", 256u << 10, 3);
  for (int bits = 15; bits <= 21; ++bits) {
    SCOPED_TRACE("window 2^" + std::to_string(bits));
    TemporaryFolder work;
    const std::size_t window = std::size_t{1} << bits;
    // The match finder's trees reach 1 MiB back; past that, the three-byte table finds the far
    // copy when little else comes between.
    const std::string far = noise(std::min<std::size_t>(window / 4, 65536), bits);
    Contents expected = {
        {"a-edge", far + std::string(window - 4 - far.size(), 'z') + far},
        {"b-beyond", noise(window, 99) + noise(window, 99)},
        {"c-empty", ""},
        {"c-nested/deeper/run.sh", "#!/bin/sh\n"},
        {".dotfile", "hidden\n"},
        {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", "utf-8 named\n"},
        {"d-run", std::string(300000, 'z') + std::string(70000, '\0')},
        {"e-empty", ""},
        {"f-frame", varyingText(32768)},
        {"g-text", varyingText(200000)},
        {"h-odd-noise", noise(32768 + 4097, 3)},
        {"i-text-noise-text", varyingText(100000) + noise(40000, 5) + varyingText(100000)},
        {"j-repeats-noise", varyingText(50000) + varyingText(50000) + noise(40000, 6) +
                                varyingText(50000).substr(777, 20000) + noise(9000, 7) +
                                varyingText(50000)},
    };
    for (int i = 0; i < 24; ++i) {
      expected["k-small-" + std::to_string(10 + i)] =
          i % 2 != 0 ? noise(1001 + 96 * i, i) : varyingText(1501 + 88 * i).substr(i * 40);
    }
    for (std::size_t i = 0; i < libraries.size(); ++i) {
      expected["l-lib" + std::to_string(i) + ".so"] = libraries[i];
      expected["l-lib" + std::to_string(i) + ".txt"] = varyingText(7000 + 3001 * i);
    }
    writeFiles(work / "source", expected);
    const fs::path cabinet = work / "packed.cab";
    ASSERT_EQ(packFolder(work / "source", cabinet, "-ml:" + std::to_string(bits)).code, kOk);
    const std::string bytes = readFile(cabinet);
    EXPECT_EQ(leAt(bytes, 36 + 6, 2), 3u | unsigned(bits) << 8);  // typeCompress: LZX, window
    std::size_t total = 0;
    for (const auto& [name, contents] : expected) total += contents.size();
    EXPECT_LT(bytes.size(), total * 3 / 4);  // the runs, text and repeats do shrink
    ASSERT_EQ(extractWith(kCab, cabinet, work / "out-ours").code, kOk);
    EXPECT_EQ(snapshot(work / "out-ours"), snapshot(work / "source"));  // modes and times too
    for (const std::string reader :
         {"cabextract -q", "gcab -x", "bsdtar -xf", "7zz x -bd", "unar -q -D"}) {
      SCOPED_TRACE(reader);
      const fs::path out = work / ("out-" + reader.substr(0, reader.find(' ')));
      fs::create_directories(out);
      runShell(reader + " ../packed.cab", out);
      expectContents(filesIn(out), expected);
    }
  }
}

// Each file is an LZX folder of its own (folders are no smaller than 4 MiB), coded in parallel; the
// quick incompressible second spills its output while the first still codes; the third's ninth
// frame is coded in the same call as the eight before it.
TEST(CabLzx, CabinetIsTheSameWhateverTheThreadCount) {
  TemporaryFolder work;
  const std::string pattern = varyingText(100000);
  std::string first = varyingText(3u << 20);
  while (first.size() < (6u << 20)) first += pattern;
  const Contents files = {{"1.txt", first},
                          {"2.txt", noise(5u << 20, 9)},
                          {"3.txt", (pattern + pattern + pattern).substr(0, 9 * 32768)}};
  writeFiles(work / "source", files);
  for (const std::string method : {"-ml:21", "-mz"}) {
    SCOPED_TRACE(method);
    std::vector<std::string> cabinets;
    for (const char* threads : {"1", "2", "4"}) {
      setenv("PARVO_THREADS", threads, 1);
      ASSERT_EQ(packFolder(work / "source", work / "packed.cab", method).code, kOk);
      cabinets.push_back(readFile(work / "packed.cab"));
    }
    EXPECT_TRUE(cabinets[0] == cabinets[1] && cabinets[0] == cabinets[2]);
    EXPECT_EQ(leAt(cabinets[0], 26, 2), method == "-mz" ? 1u : 3u);  // folders
    fs::remove_all(work / "out");
    runTool({"cabextract", "-q", work / "packed.cab", "-d", work / "out"}, work.path());
    expectContents(filesIn(work / "out"), files);
  }
  unsetenv("PARVO_THREADS");
}

ArchiverResult makeProgram(const fs::path& cabinet, const fs::path& folder) {
  return callArchiver(kCab, "-f \"" + cabinet.string() + "\" \"" + folder.string() + "/\"");
}

class CabSfx : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFiles(work_ / "source", {{"nested/deeper/notes.txt", "deep\n"},
                                  {"nested/run.sh", "#!/bin/sh\n"},
                                  {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", "utf-8 named\n"},
                                  {"data.bin", noise(200000, 3)}});
    // Folders a cabinet cannot hold: the program carries them, nested ones and times included.
    fs::create_directories(work_ / "source/void/inner");
    fs::create_directories(work_ / "source/nested/hollow");
    setMtime(work_ / "source/void/inner", kSampleMtime);
    fs::create_directories(work_ / "tmp");
    fs::create_directories(desktop_);
    const ArchiverResult packed = packFolder(work_ / "source", work_ / "tmp/X.cab", "-ml:21");
    ASSERT_EQ(packed.code, kOk) << packed.output;
    ASSERT_EQ(makeProgram(work_ / "tmp/X.cab", desktop_).code, kOk);
  }

  // In work_ (not the program's folder), which is also home, with a plain environment.
  ProcessResult runProgram(const std::vector<std::string>& argv) {
    std::vector<std::string> environment = {"PATH=/usr/bin:/bin", "LC_ALL=C",
                                            "HOME=" + work_.path().string()};
    if (const char* zone = std::getenv("TZ")) environment.push_back(std::string("TZ=") + zone);
    return runProcess(argv, environment, work_.path().string());
  }

  TemporaryFolder work_;
  const fs::path desktop_ = work_ / "desktop";
  const fs::path program_ = desktop_ / "X.run";
};

TEST_F(CabSfx, ProgramIsStaticAndExtractsBesideItselfOnlyOnce) {
  struct stat status {};
  const std::string type =
      runProcess({"/usr/bin/file", "-b", "-L", program_.string()}, {"LC_ALL=C"}).output;
  EXPECT_NE(type.find("statically linked"), std::string::npos) << type;

  const Tree source = snapshot(work_ / "source");
  ProcessResult run = runProgram({program_});
  ASSERT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_EQ(run.output,
            "X.run: 4 files and 3 folders extracted into " + (desktop_ / "X").string() + "\n");
  EXPECT_EQ(snapshot(desktop_ / "X"), source);
  ASSERT_EQ(stat((desktop_ / "X/void/inner").c_str(), &status), 0);
  EXPECT_EQ(status.st_mtime, kSampleMtime);

  // A second run touches nothing, not even files it would not replace.
  writeFile(desktop_ / "X/data.bin", "changed");
  fs::remove(desktop_ / "X/nested/run.sh");
  run = runProgram({program_});
  EXPECT_NE(run.exitStatus, 0);
  EXPECT_NE(run.output.find("already exists; nothing was extracted"), std::string::npos)
      << run.output;
  EXPECT_EQ(readFile(desktop_ / "X/data.bin"), "changed");
  EXPECT_FALSE(fs::exists(desktop_ / "X/nested/run.sh"));

  run = runProgram({program_, "--overwrite"});
  ASSERT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_EQ(snapshot(desktop_ / "X"), source);
  EXPECT_EQ(readFile(work_.path() / ".local/share/Trash/files/data.bin"), "changed");
  EXPECT_EQ(strayNames(desktop_, {"X.run", "X"}), std::vector<std::string>{});
}

TEST_F(CabSfx, ListsExtractsElsewhereAndOtherReadersFindTheCabinet) {
  const ProcessResult list = runProgram({program_, "--list"});
  ASSERT_EQ(list.exitStatus, 0) << list.output;
  for (const char* line :
       {"      200000  data.bin\n", "  \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt\n",
        "              void/inner/\n", "4 files and 3 folders, 200027 bytes\n"}) {
    EXPECT_NE(list.output.find(line), std::string::npos) << line << " in\n" << list.output;
  }
  EXPECT_FALSE(fs::exists(desktop_ / "X"));

  runTool({"cabextract", "-q", program_.string(), "-d", work_ / "out/cabextract"}, work_.path());
  expectContents(filesIn(work_ / "out/cabextract"), filesIn(work_ / "source"));
  EXPECT_EQ(extractWith(kCab, program_, work_ / "out/own").code, kOk);
  expectContents(filesIn(work_ / "out/own"), filesIn(work_ / "source"));

  EXPECT_EQ(runProgram({program_, "--bogus"}).exitStatus, 2);
}

// A --dest the user names is followed when it is a link, as tar -C follows one; the folder beside
// the program is not, and a link standing at a packed name, even one leading nowhere, stops the
// extraction without --overwrite and is left as it was.
TEST_F(CabSfx, LinksAtTheDestination) {
  fs::create_directories(work_ / "downloads");
  fs::create_directory_symlink("downloads", work_ / "link");
  ProcessResult run = runProgram({program_, "--dest", "link"});
  ASSERT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_EQ(snapshot(work_ / "downloads"), snapshot(work_ / "source"));
  EXPECT_TRUE(fs::is_symlink(work_ / "link"));

  fs::create_directory_symlink("../downloads", desktop_ / "X");
  fs::remove_all(work_ / "downloads");
  fs::create_directories(work_ / "downloads");
  run = runProgram({program_});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_NE(run.output.find("destination is a symbolic link"), std::string::npos) << run.output;
  EXPECT_TRUE(fs::is_empty(work_ / "downloads"));

  fs::create_symlink("nowhere", work_ / "downloads/data.bin");
  run = runProgram({program_, "--dest", "link"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_NE(run.output.find(work_ / "link/data.bin" + " already exists"), std::string::npos)
      << run.output;
  EXPECT_EQ(strayNames(work_ / "downloads", {}), std::vector<std::string>{"data.bin"});
  EXPECT_TRUE(fs::is_symlink(work_ / "downloads/data.bin"));
  EXPECT_EQ(fs::read_symlink(work_ / "downloads/data.bin"), "nowhere");
}

// The folder is the name before .run less its leading dots, so that "..run" does not extract into
// its own folder nor "...run" into the one above; dots alone name none.
TEST_F(CabSfx, FolderIsTheNameBeforeRunWithoutLeadingDots) {
  const std::pair<std::string, std::string> cases[] = {{"..run", ""},
                                                       {"...run", ""},
                                                       {".hidden.run", "hidden"},
                                                       {"report.2024.run", "report.2024"},
                                                       {"bundle", "bundle.extracted"}};
  fs::path program = program_;
  for (const auto& [name, folder] : cases) {
    fs::rename(program, desktop_ / name);
    program = desktop_ / name;
    const ProcessResult run = runProgram({program});
    EXPECT_EQ(run.exitStatus, folder.empty() ? 1 : 0) << run.output;
    EXPECT_TRUE(folder.empty()
                    ? run.output.starts_with("Dots alone name no folder to extract into: " + name)
                    : fs::exists(desktop_ / folder / "data.bin"))
        << run.output;
    EXPECT_FALSE(fs::exists(desktop_ / "data.bin") || fs::exists(work_ / "data.bin")) << name;
  }
}

// A copy cut short writes nothing, and a program made again over it replaces it whole.
TEST_F(CabSfx, CutShortProgramWritesNothingAndIsReplacedWhole) {
  const std::string whole = readFile(program_);
  writeFile(program_, whole.substr(0, whole.size() - 1000));
  const ProcessResult cut = runProgram({program_});
  EXPECT_EQ(cut.exitStatus, 1);
  EXPECT_NE(cut.output.find("damaged or incomplete"), std::string::npos) << cut.output;
  EXPECT_FALSE(fs::exists(desktop_ / "X"));
  ASSERT_EQ(makeProgram(work_ / "tmp/X.cab", desktop_).code, kOk);
  EXPECT_TRUE(readFile(program_) == whole);
}

}  // namespace
}  // namespace cabtest
