#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cab_packing.h"
#include "support/archiver_library.h"
#include "support/bit_stream.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/temporary_folder.h"
#include "support/tree_snapshot.h"

namespace cabtest {
namespace {

namespace fs = std::filesystem;

// The first count x86-64 programs or libraries in folder of minBytes to maxBytes, by name.
std::vector<std::string> elfFiles(const fs::path& folder, std::uintmax_t minBytes,
                                  std::uintmax_t maxBytes, std::size_t count) {
  std::vector<fs::path> found;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file() && !entry.is_symlink() && entry.file_size() >= minBytes &&
        entry.file_size() <= maxBytes &&
        readFile(entry.path()).substr(0, 4) ==
            "\x7f"
            "ELF") {
      found.push_back(entry.path());
    }
  }
  std::sort(found.begin(), found.end());
  found.resize(std::min(found.size(), count));
  std::vector<std::string> contents;
  for (const fs::path& path : found) contents.push_back(readFile(path));
  return contents;
}

// Each window size, on data that finds its limits: a repeat exactly as far back as every reader
// reaches (window - 4; 7-Zip gets window - 3 wrong) and one just beyond it, runs longer than a
// match, bytes that never match, a file of exactly one 32 KiB frame, empty files between others,
// an odd-sized stored last frame, and text on both sides of a stored frame, coded in blocks
// that span frames, with matches reaching over the stored one; then a long repeat, whose
// positions stay out of the match finder, noise, and a part of it again; last, small files of
// text and noise in turn, where blocks are cut mid-frame and the noise goes uncompressed; and
// shared libraries with text, whose frames end anywhere in a 16-bit word, often within the
// bits a reader looks ahead to decode the last code. Beside them, what any packed tree holds:
// subfolders, a hidden file, a UTF-8 name, a program's mode and every file's time.
TEST(CabLzx, EveryWindowSizeRoundTripsThroughEveryReader) {
  const std::vector<std::string> libraries =
      elfFiles("/usr/lib/x86_64-linux-gnu", 256u << 10, 1u << 20, 3);
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
    const ArchiverResult packed =
        packFolder(work / "source", cabinet, "-ml:" + std::to_string(bits));
    ASSERT_EQ(packed.code, kOk) << packed.output;
    const std::string bytes = readFile(cabinet);
    EXPECT_EQ(leAt(bytes, 36 + 6, 2), 3u | unsigned(bits) << 8);  // typeCompress: LZX, window
    std::size_t total = 0;
    for (const auto& [name, contents] : expected) total += contents.size();
    EXPECT_LT(bytes.size(), total * 3 / 4);  // the runs, text and repeats do shrink
    expectEveryReaderExtracts(work.path(), cabinet, expected);
    const Tree tree = snapshot(work / "out-ours");
    EXPECT_TRUE(tree.at("c-nested/deeper/run.sh").executable);
    EXPECT_EQ(tree.at("c-nested/deeper/run.sh").mtime, kSampleMtime);
  }
}

// E8 translation is on for a folder of x86 code and off for text; code comes back intact.
TEST(CabLzx, CallTranslationFollowsTheFolderContents) {
  const std::vector<std::string> programs = elfFiles("/usr/bin", 512u << 10, 2u << 20, 1);
  if (programs.empty()) GTEST_SKIP() << "no x86 program of 512 KiB to 2 MiB in /usr/bin";
  const std::string& program = programs.front();
  const struct {
    const char* kind;
    Contents files;
    bool translated;
  } cases[] = {
      {"program", {{"prog", program}, {"notes.txt", varyingText(5000)}}, true},
      {"text", {{"notes.txt", varyingText(400000)}}, false},
  };
  for (const auto& [kind, files, translated] : cases) {
    SCOPED_TRACE(kind);
    TemporaryFolder work;
    writeFiles(work / "source", files);
    const fs::path cabinet = work / "packed.cab";
    ASSERT_EQ(packFolder(work / "source", cabinet, "-ml:21").code, kOk);
    const std::string bytes = readFile(cabinet);
    // The stream's first bit, the top bit of its first 16-bit word, says translation is on.
    const std::size_t data = leAt(bytes, 36, 4) + 8;
    EXPECT_EQ((static_cast<unsigned char>(bytes[data + 1]) >> 7) == 1, translated);
    ASSERT_EQ(extractWith(kCab, cabinet, work / "out").code, kOk);
    expectContents(filesIn(work / "out"), files);
  }
}

// Each file is an LZX folder of its own here (folders are cut at an eighth of the total, but no
// smaller than 4 MiB), coded in parallel; the second, incompressible and quick, spills its output
// while the first is still coding its text. The third is nine frames: its last frame is coded in
// the same call as the full chunk of eight before it. The cabinet is the same byte for byte with
// one, two or four threads (with more than one, each LZX coder finds matches on a second), for
// LZX and for MSZIP's parallel batches alike.
TEST(CabLzx, CabinetIsTheSameWhateverTheThreadCount) {
  TemporaryFolder work;
  const std::string pattern = varyingText(100000);
  std::string first = varyingText(3u << 20);
  while (first.size() < (6u << 20)) first += pattern;
  const std::string second = noise(5u << 20, 9);
  const std::string third = (pattern + pattern + pattern).substr(0, 9 * 32768);
  writeFiles(work / "source", {{"1.txt", first}, {"2.txt", second}, {"3.txt", third}});
  const char* previous = std::getenv("PARVO_THREADS");
  const std::string saved = previous ? previous : "";
  for (const std::string method : {"-ml:21", "-mz"}) {
    SCOPED_TRACE(method);
    const char* threads[] = {"1", "2", "4"};
    std::string cabinets[3];
    for (int i = 0; i < 3; ++i) {
      setenv("PARVO_THREADS", threads[i], 1);
      const fs::path cabinet = work / ("packed" + std::to_string(i) + ".cab");
      ASSERT_EQ(packFolder(work / "source", cabinet, method).code, kOk);
      cabinets[i] = readFile(cabinet);
    }
    EXPECT_TRUE(cabinets[0] == cabinets[1]);
    EXPECT_TRUE(cabinets[0] == cabinets[2]);
    EXPECT_EQ(leAt(cabinets[0], 26, 2), method == "-mz" ? 1u : 3u);  // folders
    fs::remove_all(work / "out");
    fs::create_directories(work / "out");
    runTool({"cabextract", "-q", work / "packed1.cab", "-d", work / "out"}, work.path());
    EXPECT_EQ(readFile(work / "out/1.txt"), first);
    EXPECT_EQ(readFile(work / "out/2.txt"), second);
    EXPECT_EQ(readFile(work / "out/3.txt"), third);
  }
  if (previous) {
    setenv("PARVO_THREADS", saved.c_str(), 1);
  } else {
    unsetenv("PARVO_THREADS");
  }
}

// -mz or no method chooses MSZIP (each LZX window is in
// EveryWindowSizeRoundTripsThroughEveryReader); a window out of range, or two methods, is refused
// before a cabinet is written.
TEST(CabLzx, MethodOptionsChooseTheFolderType) {
  TemporaryFolder work;
  writeFiles(work / "source", {{"a.txt", varyingText(1000)}});
  for (const char* options :
       {"", "-mz", "-ml:14", "-ml:22", "-ml", "-mz -ml:21", "-ml:15 -ml:21"}) {
    SCOPED_TRACE(options);
    const fs::path cabinet = work / "packed.cab";
    fs::remove(cabinet);
    const ArchiverResult packed = packFolder(work / "source", cabinet, options);
    const bool mszip = options == std::string() || options == std::string("-mz");
    ASSERT_EQ(packed.code, mszip ? kOk : kBadCommandLine) << packed.output;
    EXPECT_EQ(fs::exists(cabinet), mszip);
    if (mszip) {
      EXPECT_EQ(leAt(readFile(cabinet), 36 + 6, 2), 1u);
    }
  }
}

}  // namespace
}  // namespace cabtest
