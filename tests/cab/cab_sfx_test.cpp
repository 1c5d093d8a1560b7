#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <span>
#include <thread>

#include "cab/sfx_stub/sfx_trailer.h"
#include "support/archiver_library.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/tree_snapshot.h"

namespace cabtest {
namespace {

namespace fs = std::filesystem;

ArchiverResult makeProgram(const fs::path& cabinet, const fs::path& folder) {
  return callArchiver(kCab, "-f \"" + cabinet.string() + "\" \"" + folder.string() + "/\"");
}

// Runs the self-extracting program in folder (not its own) with a plain environment, the folder
// as home.
ProcessResult runProgram(const fs::path& program, const std::vector<std::string>& arguments,
                         const fs::path& folder) {
  std::vector<std::string> argv = {program.string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<std::string> environment = {"PATH=/usr/bin:/bin", "LC_ALL=C",
                                          "HOME=" + folder.string()};
  if (const char* zone = std::getenv("TZ")) environment.push_back(std::string("TZ=") + zone);
  return runProcess(argv, environment, folder.string());
}

// What `file` says of a program, and the machine it names ("ELF 64-bit LSB executable, x86-64,
// ...").
std::string fileType(const fs::path& program) {
  return runProcess({"/usr/bin/file", "-b", "-L", program.string()}, {"LC_ALL=C"}).output;
}
std::string machineOf(const std::string& type) {
  const std::size_t start = type.find(", ") + 2;
  return type.substr(start, type.find(',', start) - start);
}

std::int64_t mtimeOf(const fs::path& entry) {
  struct stat status {};
  EXPECT_EQ(lstat(entry.c_str(), &status), 0) << entry;
  return status.st_mtime;
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
    const ArchiverResult packed =
        packIn(work_ / "source", kCab, "-a -r -ml:21 \"" + work_ / "tmp/X.cab" + "\" *.*");
    ASSERT_EQ(packed.code, kOk) << packed.output;
    const ArchiverResult made = makeProgram(work_ / "tmp/X.cab", desktop_);
    ASSERT_EQ(made.code, kOk) << made.output;
  }

  TemporaryFolder work_;
  const fs::path desktop_ = work_ / "desktop";
  const fs::path program_ = desktop_ / "X.run";
};

TEST_F(CabSfx, ProgramIsStaticAndExtractsBesideItselfOnlyOnce) {
  struct stat status {};
  ASSERT_EQ(stat(program_.c_str(), &status), 0);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(status.st_mode & 0777, 0755 & ~mask);
  const std::string type = fileType(program_);
  EXPECT_NE(type.find("statically linked"), std::string::npos) << type;
  EXPECT_EQ(machineOf(type), machineOf(fileType("/proc/" + std::to_string(getpid()) + "/exe")));

  const Tree source = snapshot(work_ / "source");
  ProcessResult run = runProgram(program_, {}, work_.path());
  ASSERT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_EQ(run.output,
            "X.run: 4 files and 3 folders extracted into " + (desktop_ / "X").string() + "\n");
  EXPECT_EQ(snapshot(desktop_ / "X"), source);
  EXPECT_EQ(mtimeOf(desktop_ / "X/void/inner"), kSampleMtime);

  // A second run touches nothing, not even files it would not replace.
  writeFile(desktop_ / "X/data.bin", "changed");
  fs::remove(desktop_ / "X/nested/run.sh");
  run = runProgram(program_, {}, work_.path());
  EXPECT_NE(run.exitStatus, 0);
  EXPECT_NE(run.output.find("already exists; nothing was extracted"), std::string::npos)
      << run.output;
  EXPECT_EQ(readFile(desktop_ / "X/data.bin"), "changed");
  EXPECT_FALSE(fs::exists(desktop_ / "X/nested/run.sh"));

  run = runProgram(program_, {"--overwrite"}, work_.path());
  ASSERT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_EQ(snapshot(desktop_ / "X"), source);
  EXPECT_EQ(readFile(work_.path() / ".local/share/Trash/files/data.bin"), "changed");
  EXPECT_EQ(strayNames(desktop_, {"X.run", "X"}), std::vector<std::string>{});
}

TEST_F(CabSfx, ListsExtractsElsewhereAndOtherReadersFindTheCabinet) {
  const ProcessResult list = runProgram(program_, {"--list"}, work_.path());
  ASSERT_EQ(list.exitStatus, 0) << list.output;
  for (const char* line :
       {"      200000  data.bin\n", "           5  nested/deeper/notes.txt\n",
        "  \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt\n", "              void/inner/\n",
        "              nested/hollow/\n", "4 files and 3 folders, 200027 bytes\n"}) {
    EXPECT_NE(list.output.find(line), std::string::npos) << line << " in\n" << list.output;
  }
  EXPECT_FALSE(fs::exists(desktop_ / "X"));

  // --dest is in LinksAtTheDestination.
  const Contents expected = filesIn(work_ / "source");
  fs::create_directories(work_ / "out/cabextract");
  runTool({"cabextract", "-q", program_.string(), "-d", work_ / "out/cabextract"}, work_.path());
  expectContents(filesIn(work_ / "out/cabextract"), expected);
  const ArchiverResult own = extractWith(kCab, program_, work_ / "out/own");
  EXPECT_EQ(own.code, kOk) << own.output;
  expectContents(filesIn(work_ / "out/own"), expected);

  EXPECT_EQ(runProgram(program_, {"--bogus"}, work_.path()).exitStatus, 2);
}

// A --dest the user names is followed when it is a link, as tar -C follows one; the folder beside
// the program is not, and a link standing at a packed name, even one leading nowhere, stops the
// extraction without --overwrite and is left as it was.
TEST_F(CabSfx, LinksAtTheDestination) {
  fs::create_directories(work_ / "downloads");
  fs::create_directory_symlink("downloads", work_ / "link");
  ProcessResult run = runProgram(program_, {"--dest", "link"}, work_.path());
  ASSERT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_EQ(snapshot(work_ / "downloads"), snapshot(work_ / "source"));
  EXPECT_TRUE(fs::is_symlink(work_ / "link"));

  fs::create_directory_symlink("../downloads", desktop_ / "X");
  fs::remove_all(work_ / "downloads");
  fs::create_directories(work_ / "downloads");
  run = runProgram(program_, {}, work_.path());
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_NE(run.output.find("destination is a symbolic link"), std::string::npos) << run.output;
  EXPECT_TRUE(fs::is_empty(work_ / "downloads"));

  fs::create_symlink("nowhere", work_ / "downloads/data.bin");
  run = runProgram(program_, {"--dest", "link"}, work_.path());
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_NE(run.output.find(work_ / "link/data.bin" + " already exists"), std::string::npos)
      << run.output;
  EXPECT_EQ(strayNames(work_ / "downloads", {}), std::vector<std::string>{"data.bin"});
  EXPECT_TRUE(fs::is_symlink(work_ / "downloads/data.bin"));
  EXPECT_EQ(fs::read_symlink(work_ / "downloads/data.bin"), "nowhere");
}

// A program made before its trailer carried folders ended in the cabinet's offset, length and the
// first magic; it still lists and extracts its files.
TEST_F(CabSfx, ProgramsWithTheFirstTrailerStillExtract) {
  const std::string whole = readFile(program_);
  const std::string tail = whole.substr(whole.size() - archivers::cab::SfxTrailer::kBytes);
  const auto trailer = archivers::cab::SfxTrailer::decode(
      std::span(reinterpret_cast<const unsigned char*>(tail.data()), tail.size()));
  ASSERT_TRUE(trailer && trailer->foldersLength > 0);
  std::string first = whole.substr(0, trailer->cabinetOffset + trailer->cabinetLength);
  for (const std::uint64_t field : {trailer->cabinetOffset, trailer->cabinetLength}) {
    for (int i = 0; i < 8; ++i) first += static_cast<char>(field >> (8 * i));
  }
  writeFile(program_, first + archivers::cab::SfxTrailer::kFirstMagic);

  const ProcessResult list = runProgram(program_, {"--list"}, work_.path());
  EXPECT_NE(list.output.find("\n4 files, 200027 bytes\n"), std::string::npos) << list.output;
  const ProcessResult run = runProgram(program_, {}, work_.path());
  ASSERT_EQ(run.exitStatus, 0) << run.output;
  expectContents(filesIn(desktop_ / "X"), filesIn(work_ / "source"));
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
    const ProcessResult run = runProgram(program, {}, work_.path());
    if (folder.empty()) {
      EXPECT_EQ(run.exitStatus, 1) << name;
      EXPECT_EQ(run.output.find("Dots alone name no folder to extract into: " + name), 0u)
          << run.output;
    } else {
      EXPECT_EQ(run.exitStatus, 0) << run.output;
      EXPECT_TRUE(fs::exists(desktop_ / folder / "data.bin")) << name;
    }
    EXPECT_FALSE(fs::exists(desktop_ / "data.bin") || fs::exists(work_ / "data.bin")) << name;
  }
}

// A copy cut short writes nothing, and a program made again over it replaces it whole. (The
// program extracts through the library's own sink: hostile names are in hostile_input_test.cpp.)
TEST_F(CabSfx, CutShortProgramWritesNothingAndIsReplacedWhole) {
  const std::string whole = readFile(program_);
  writeFile(program_, whole.substr(0, whole.size() - 1000));
  const ProcessResult cut = runProgram(program_, {}, work_.path());
  EXPECT_EQ(cut.exitStatus, 1);
  EXPECT_NE(cut.output.find("damaged or incomplete"), std::string::npos) << cut.output;
  EXPECT_FALSE(fs::exists(desktop_ / "X"));
  ASSERT_EQ(makeProgram(work_ / "tmp/X.cab", desktop_).code, kOk);
  EXPECT_TRUE(readFile(program_) == whole);
}

// Runs the program with its output on a terminal or a pipe, held stopped for a second and more
// once it has begun to extract, so that its extraction lasts that long on any machine. All it
// printed.
std::string runHeldAWhile(const fs::path& program, const fs::path& folder, bool terminal) {
  int reader = -1;
  int writer = -1;
  if (terminal) {
    EXPECT_EQ(openpty(&reader, &writer, nullptr, nullptr, nullptr), 0);
  } else {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    reader = fds[0];
    writer = fds[1];
  }
  const pid_t child = startProcess({program.string(), "--dest", "out"},
                                   {"PATH=/usr/bin:/bin", "LC_ALL=C"}, folder.string(), writer);
  close(writer);
  // Held once the extraction is under way: its destination appears with the first member.
  while (!fs::exists(folder / "out") && waitpid(child, nullptr, WNOHANG) == 0) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  kill(child, SIGSTOP);
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  kill(child, SIGCONT);
  std::string output;
  char buffer[4096];
  for (ssize_t got; (got = read(reader, buffer, sizeof buffer)) > 0;) output.append(buffer, got);
  close(reader);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(status, 0) << output;
  fs::remove_all(folder / "out");
  return output;
}

// A long extraction shows one line of progress on a terminal, rewritten in place and cleared
// before its summary; with its output on a pipe it prints the summary alone.
TEST(CabSfxProgress, LineOnATerminalOnly) {
  TemporaryFolder work;
  for (int i = 0; i < 5000; ++i) {
    writeFile(work / ("source/" + std::to_string(i % 50) + "/" + std::to_string(i)), "x\n");
  }
  ASSERT_EQ(packIn(work / "source", kCab, "-a -r \"" + work / "X.cab" + "\" *.*").code, kOk);
  ASSERT_EQ(makeProgram(work / "X.cab", work.path()).code, kOk);

  const std::string summary = "X.run: 5000 files extracted into " + work / "out";
  EXPECT_EQ(runHeldAWhile(work / "X.run", work.path(), false), summary + "\n");
  const std::string shown = runHeldAWhile(work / "X.run", work.path(), true);
  EXPECT_TRUE(shown.starts_with("\r\033[KX.run: ")) << shown;
  EXPECT_NE(shown.find("% "), std::string::npos) << shown;
  EXPECT_TRUE(shown.ends_with("\r\033[K" + summary + "\r\n")) << shown;
}

}  // namespace
}  // namespace cabtest
