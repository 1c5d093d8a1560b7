// Folders dropped on the built program, packed onto the desktop in each preferred format and
// read back by the peer tools and by Parvo itself.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/tree_snapshot.h"

namespace fs = std::filesystem;

namespace {

const std::string kParvo = std::string(PARVO_BINARY_DIR) + "/bin/parvo";
const std::string kJapaneseName = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt";  // 日本語.txt

class ParvoPack : public ::testing::Test {
 protected:
  ParvoPack() {
    // Text over several blocks, a name whose CP932 trail byte is 0x5C (表/ソ), one CP932 cannot
    // hold.
    writeFiles(source(), {{"readme.txt", "hello\n"},
                          {"sub/data.bin", noise(300000, 7)},
                          {"sub/text.txt", varyingText(200000)},
                          {"sub/" + kJapaneseName, "nihongo\n"},
                          {"\xE8\xA1\xA8/\xE3\x82\xBD.txt", "5c\n"},
                          {"caf\xC3\xA9 \xF0\x9F\x98\x80.txt", "utf-8\n"},
                          {".hidden", "dot file\n"}});
    fs::create_directories(source() / "empty");
  }

  fs::path home() const { return folder.path() / "home"; }
  fs::path desktop() const { return home() / "Desktop"; }
  fs::path source() const { return folder.path() / "site.old"; }

  void prefer(const std::string& code) {
    writeFile(home() / ".config/norrin.ini", "[parvo]\narcdllselect=\"" + code + "\"\n");
  }

  ProcessResult parvo(const std::vector<std::string>& arguments,
                      const std::vector<std::string>& prefix = {}) {
    std::vector<std::string> argv = prefix;
    argv.push_back(kParvo);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runProcess(argv, {"HOME=" + home().string(), "PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8"},
                      folder.path().string());
  }

  // What every reader must give back: the files, nothing of the empty folder.
  Contents expectedFiles() const { return filesIn(source()); }

  TemporaryFolder folder;
};

struct Reader {
  const char* format;                // "cab" or "lzh"
  std::vector<std::string> command;  // the archive follows; run in the output folder
  bool decodesJapanese;              // the reader shows CP932 or UTF-8 names as written
};

// Names the reader could not decode are compared by their contents only.
Contents asciiNamed(const Contents& contents) {
  Contents ascii;
  for (const auto& [name, bytes] : contents) {
    const bool plain = std::all_of(name.begin(), name.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    ascii[plain ? name : "<non-ASCII> " + bytes] = bytes;
  }
  return ascii;
}

TEST_F(ParvoPack, EachFormatReadsBackIdenticallyWithEveryReader) {
  const Reader readers[] = {
      {"cab", {"cabextract", "-q"}, true},  {"cab", {"gcab", "-x"}, true},
      {"cab", {"bsdtar", "-xf"}, true},     {"cab", {"7zz", "x", "-bso0"}, true},
      {"lzh", {"lhasa", "xq"}, true},       {"lzh", {"bsdtar", "-xf"}, true},
      {"lzh", {"7zz", "x", "-bso0"}, true}, {"lzh", {"jlha", "x"}, false},
  };

  for (const auto& [code, extension] : {std::pair{"cab", "cab"}, std::pair{"lha  ", "lzh"}}) {
    prefer(code);
    const auto run = parvo({source().string()});
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    const fs::path archive = desktop() / (std::string("site.") + extension);
    ASSERT_TRUE(fs::is_regular_file(archive)) << run.output;

    for (const Reader& reader : readers) {
      if (reader.format != std::string(extension)) continue;
      const fs::path out = folder.path() / ("out-" + reader.command[0] + "-" + extension);
      fs::create_directories(out);
      std::vector<std::string> command = reader.command;
      command.push_back(archive.string());
      runTool(command, out);
      SCOPED_TRACE(reader.command[0] + " on " + archive.filename().string());
      if (reader.decodesJapanese) {
        expectContents(filesIn(out), expectedFiles());
      } else {
        expectContents(asciiNamed(filesIn(out)), asciiNamed(expectedFiles()));
      }
      EXPECT_EQ(fs::is_directory(out / "empty"), std::string(extension) == "lzh");
    }

    // Parvo's own extraction of what it packed, empty folders included where the format has them.
    const auto extracted = parvo({archive.string()});
    ASSERT_EQ(extracted.exitStatus, 0) << extracted.output;
    expectContents(filesIn(desktop() / "site"), expectedFiles());
    EXPECT_EQ(fs::is_directory(desktop() / "site/empty"), std::string(extension) == "lzh");
    fs::remove_all(desktop() / "site");
  }
}

TEST_F(ParvoPack, DefaultMakesASelfExtractingProgramAndCleansUp) {
  // The temporary cabinet is made in a private folder in the user's cache, then removed.
  const fs::path cache = folder.path() / "cache";
  const auto run = runProcess({kParvo, source().string()},
                              {"HOME=" + home().string(), "XDG_CACHE_HOME=" + cache.string()},
                              folder.path().string());
  ASSERT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_EQ(strayNames(desktop(), {}), std::vector<std::string>{"site.run"});
  ASSERT_TRUE(fs::is_directory(cache));
  EXPECT_EQ(strayNames(cache, {}), std::vector<std::string>{});  // cabinet and folder gone

  // The program extracts beside itself; that a second run overwrites nothing is in cab_sfx_test.
  const auto extracted = runProcess({(desktop() / "site.run").string()}, {}, desktop().string());
  ASSERT_EQ(extracted.exitStatus, 0) << extracted.output;
  expectContents(filesIn(desktop() / "site"), expectedFiles());
  EXPECT_TRUE(
      fs::is_directory(desktop() / "site/empty"));  // carried by the program, not the cabinet
}

TEST_F(ParvoPack, ReplacedArchiveGoesToTheTrashUnlessItIsTheSame) {
  prefer("lha  ");
  ASSERT_EQ(parvo({source().string()}).exitStatus, 0);
  const std::string first = readFile(desktop() / "site.lzh");
  ASSERT_EQ(parvo({source().string()}).exitStatus, 0);  // the same content: nothing to keep
  EXPECT_FALSE(fs::exists(home() / ".local/share/Trash/files/site.lzh"));

  writeFile(source() / "readme.txt", "changed\n");
  ASSERT_EQ(parvo({source().string()}).exitStatus, 0);
  EXPECT_EQ(readFile(home() / ".local/share/Trash/files/site.lzh"), first);
  EXPECT_NE(readFile(home() / ".local/share/Trash/info/site.lzh.trashinfo")
                .find("Path=" + (desktop() / "site.lzh").string()),
            std::string::npos);
}

TEST_F(ParvoPack, FailuresLeaveNothingUnderTheFinalName) {
  // A desktop that cannot be written: its path runs through a file.
  prefer("cab  ");
  writeFile(home() / "blocked", "a file, not a folder");
  writeFile(home() / ".config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/blocked/Desktop\"\n");
  auto run = parvo({source().string()});
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_NE(run.output.find("PARVO: "), std::string::npos);
  fs::remove(home() / ".config/user-dirs.dirs");

  // A file nobody but its owner may read, packed by another user when the tests run as root.
  std::vector<std::string> asOtherUser;
  if (geteuid() == 0) {
    asOtherUser = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    for (const auto& entry : fs::recursive_directory_iterator(folder.path())) {
      fs::permissions(entry.path(), fs::perms::all, fs::perm_options::add);
    }
    fs::permissions(folder.path(), fs::perms::all, fs::perm_options::add);
  }
  writeFile(source() / "secret.txt", "private\n");
  fs::permissions(source() / "secret.txt", fs::perms::none);
  for (const char* code : {"cab  ", "lha  "}) {
    prefer(code);
    run = parvo({source().string()}, asOtherUser);
    EXPECT_EQ(run.exitStatus, 2) << code;
    EXPECT_NE(run.output.find("secret.txt"), std::string::npos) << run.output;
  }
  EXPECT_EQ(strayNames(desktop(), {}), std::vector<std::string>{});
}

TEST_F(ParvoPack, AKilledRunLeavesACompleteArchiveOrNone) {
  prefer("lha  ");
  writeFile(source() / "large.bin", noise(48 << 20, 3));
  fs::create_directories(desktop());
  for (const int delayMs : {50, 300}) {
    const pid_t child = startProcess({kParvo, source().string()}, {"HOME=" + home().string()},
                                     folder.path().string(), STDERR_FILENO);
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    // Whatever stands on the desktop is the whole archive; nothing partial, no temporary.
    for (const std::string& name : strayNames(desktop(), {})) {
      ASSERT_EQ(name, "site.lzh");
      runTool({"lha", "tq", (desktop() / name).string()}, folder.path());
    }
  }
}

// Whatever a mode leaves out is named once the job is done, the archive holds the rest, and the run
// ends with status 2. The self-extracting mode tells it after its conversion, and never packs the
// program it made before from the same folder, which would grow with every run.
TEST_F(ParvoPack, WhatIsLeftOutIsNamedAndTheRunSaysSo) {
  writeFile(folder.path() / "outside.txt", "outside\n");
  fs::create_symlink("../outside.txt", source() / "outside link");
  writeFile(source() / "Q1\\summary.txt", "q1\n");
  const std::string leftOut = "PARVO: 2 items were left out of the archive: ";
  for (const auto& [code, archive] :
       {std::pair{"cab  ", "site.cab"}, std::pair{"lha  ", "site.lzh"},
        std::pair{"cabex", "site.run"}}) {
    prefer(code);
    const auto run = parvo({source().string()});
    EXPECT_EQ(run.exitStatus, 2) << code;
    EXPECT_TRUE(run.output.starts_with(leftOut)) << run.output;
    EXPECT_NE(run.output.find("Q1\\summary.txt"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find(leftOut, 1), std::string::npos) << run.output;  // told once
    EXPECT_TRUE(fs::is_regular_file(desktop() / archive)) << code;
  }
  EXPECT_EQ(strayNames(home() / ".cache", {}), std::vector<std::string>{});

  // The home folder holds the desktop and with it the program made from it a moment ago.
  fs::remove(home() / ".config/norrin.ini");
  ASSERT_EQ(parvo({home().string()}).exitStatus, 0);
  const auto first = fs::file_size(desktop() / "home.run");
  const auto again = parvo({home().string()});
  EXPECT_EQ(again.exitStatus, 2);
  EXPECT_NE(
      again.output.find("an earlier self-extracting program of this folder: Desktop/home.run"),
      std::string::npos)
      << again.output;
  EXPECT_LT(fs::file_size(desktop() / "home.run"), first + first / 2);
}

// A folder name near the file system's 255-byte limit packs in every mode. When a pack fails, the
// message gives the reason before the path, which a cut would hide.
TEST_F(ParvoPack, LongNamesPackAndMessagesKeepTheirReason) {
  std::string name;
  while (name.size() < 240) name += "\xE6\x97\xA5";  // 日, 80 of them: NAME.cab is 244 bytes
  const fs::path longFolder = folder.path() / name;
  writeFiles(longFolder, {{"a.txt", "a\n"}});
  for (const auto& [code, extension] :
       {std::pair{"cab  ", ".cab"}, std::pair{"lha  ", ".lzh"}, std::pair{"cabex", ".run"}}) {
    prefer(code);
    const auto run = parvo({longFolder.string()});
    EXPECT_EQ(run.exitStatus, 0) << code << run.output;
    EXPECT_TRUE(fs::is_regular_file(desktop() / (name + extension))) << code;
  }

  prefer("cab  ");
  writeFile(home() / "blocked", "a file, not a folder");
  writeFile(home() / ".config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/blocked/" + name + "\"\n");
  const auto failed = parvo({longFolder.string()});
  EXPECT_EQ(failed.exitStatus, 2);
  EXPECT_TRUE(failed.output.starts_with("PARVO: cannot write, Not a directory: ")) << failed.output;
}

}  // namespace
