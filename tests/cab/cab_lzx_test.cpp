#include <algorithm>
#include <cstdlib>
#include <set>

#include "support/archiver_library.h"
#include "support/bit_stream.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/tree_snapshot.h"

namespace cabtest {
namespace {

namespace fs = std::filesystem;

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
  for (auto path = found.begin(); path != found.end() && contents.size() < count; ++path) {
    contents.push_back(readFile(*path));
  }
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
    for (const std::string reader :
         {"cabextract -q", "gcab -x", "bsdtar -xf", "7zz x -bd", "unar -q -D", "ours"}) {
      SCOPED_TRACE(reader);
      const fs::path out = work / ("out-" + reader.substr(0, reader.find(' ')));
      if (reader == "ours") {
        ASSERT_EQ(extractWith(kCab, cabinet, out).code, kOk);
      } else {
        fs::create_directories(out);
        runShell(reader + " ../packed.cab", out);
      }
      expectContents(filesIn(out), expected);
    }
    const Tree tree = snapshot(work / "out-ours");
    EXPECT_TRUE(tree.at("c-nested/deeper/run.sh").executable);
    EXPECT_EQ(tree.at("c-nested/deeper/run.sh").mtime, kSampleMtime);
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
    fs::create_directories(work / "out");
    runTool({"cabextract", "-q", work / "packed.cab", "-d", work / "out"}, work.path());
    expectContents(filesIn(work / "out"), files);
  }
  unsetenv("PARVO_THREADS");
}

// -mz or no method chooses MSZIP; a window out of range, no window or two methods are refused
// before a cabinet is written.
TEST(CabCommand, MethodOptionsChooseTheFolderType) {
  TemporaryFolder work;
  writeFiles(work / "source", {{"a.txt", varyingText(1000)}});
  const fs::path cabinet = work / "packed.cab";
  for (const std::string options : {"", "-mz", "-ml:14", "-ml:22", "-ml", "-mz -ml:21"}) {
    SCOPED_TRACE(options);
    fs::remove(cabinet);
    const bool mszip = options.empty() || options == "-mz";
    ASSERT_EQ(packFolder(work / "source", cabinet, options).code, mszip ? kOk : kBadCommandLine);
    EXPECT_EQ(fs::exists(cabinet), mszip);
    EXPECT_EQ(mszip ? leAt(readFile(cabinet), 36 + 6, 2) : 1u, 1u);
  }
}

}  // namespace
}  // namespace cabtest
