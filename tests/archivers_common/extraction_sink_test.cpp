#include "common/extraction_sink.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <optional>
#include <regex>
#include <thread>

#include "common/destination_walk.h"
#include "common/text_encoding.h"
#include "support/thrown.h"
#include "support/tree_snapshot.h"

// Entries are written with designated initializers; the fields left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace archivers {
namespace {

// The destination lives in dest/; everything else in the folder counts as outside it.
class ExtractionSinkTest : public testing::Test {
 protected:
  void SetUp() override {
    umask(022);
    setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
  }
  void TearDown() override { unsetenv("XDG_DATA_HOME"); }

  static void writeFile(ExtractionSink& sink, const EntryInfo& entry, std::string_view data) {
    auto output = sink.createFile(entry);
    ASSERT_NE(output, nullptr) << entry.path;
    output->write(data.data(), data.size());
    output->commit();
  }
  static EntryInfo file(std::string path) { return EntryInfo{.path = std::move(path)}; }
  static EntryInfo symlink(std::string path, std::string target,
                           EntryType type = EntryType::kSymlink) {
    return EntryInfo{.path = std::move(path), .type = type, .linkTarget = std::move(target)};
  }
  static EntryInfo hardlink(std::string path, std::string target) {
    return symlink(std::move(path), std::move(target), EntryType::kHardlink);
  }
  // Every name under a folder, hidden ones included, relative and sorted.
  static std::vector<std::string> listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& [name, node] : snapshot(folder)) names.push_back(name);
    return names;
  }
  using ModeAndTime = std::pair<unsigned, time_t>;
  static ModeAndTime modeAndTime(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
    return {status.st_mode & 07777, status.st_mtime};
  }
  // Hands the member to a landing thread, which takes a while before it writes the data.
  static void extractSlowly(ExtractionSink& sink, const std::string& path, std::string data) {
    sink.extractLater(file(path), {}, [data](std::span<const std::uint8_t>, FileOutput& output) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      output.write(data.data(), data.size());
    });
  }
  static ArchiveError finishError(ExtractionSink& sink) {
    return thrown<ArchiveError>([&] { sink.finish(); });
  }
  // The inode of the folder a walk reaches; 0 when it is refused.
  static ino_t inodeOf(const DestinationWalk::Reached& reached) {
    struct stat status {};
    EXPECT_EQ(reached.refusal, nullptr) << reached.refusal;
    return reached.folder != nullptr && fstat(reached.folder->fd, &status) == 0 ? status.st_ino : 0;
  }

  TemporaryFolder folder_;
  const fs::path root_ = folder_.path();
  const fs::path destination_ = root_ / "dest";
  const fs::path trash_ = root_ / "data/Trash";
  archivers::FollowedCall call_{nullptr};
};

using Strings = std::vector<std::string>;
// The walk that the sink opens every folder and checks every link target by.
using DestinationWalkTest = ExtractionSinkTest;

// Names are refused by splitMemberPath's table below and through every library in
// hostile_input_test.cpp; here what only the sink decides: links, and folders or files in the way.
TEST_F(ExtractionSinkTest, LinksOutAndWhatStandsInTheWayAreRefusedNothingIsWrittenThroughLinks) {
  fs::create_directories(root_ / "outside");
  fs::create_directories(destination_ / "folder/inner");
  std::ofstream(destination_ / "plain") << "x";
  ExtractionSink sink(destination_.string(), call_);
  // A folder at the name is found when the file would take its place.
  writeFile(sink, file("./folder"), "data");
  EXPECT_EQ(sink.createFile(file("plain/child")), nullptr);
  sink.createLink(symlink("folder", "plain"));
  sink.createLink(symlink("in", "sub"));  // inside: made
  fs::create_directory_symlink(root_ / "outside", destination_ / "planted");
  EXPECT_EQ(sink.createFile(file("in/file")), nullptr);
  EXPECT_EQ(sink.createFile(file("planted/file")), nullptr);
  sink.createDirectory(file("planted/folder"));
  const ArchiveError error = finishError(sink);
  EXPECT_EQ(error.result(), Result::kEntriesRefused);
  EXPECT_STREQ(error.what(),
               "skipped 6 unsafe entries, first: a folder of that name exists: ./folder");
  EXPECT_TRUE(fs::is_empty(root_ / "outside"));
  EXPECT_EQ(fs::read_symlink(destination_ / "in"), "sub");
  EXPECT_EQ(listing(destination_ / "folder"), Strings{"inner"});
  EXPECT_EQ(readFile(destination_ / "plain"), "x");
}

// Every name and link target passes here before it reaches a system call.
TEST(MemberPath, SplitsSafeNamesAndSaysWhyTheOthersAreRefused) {
  using namespace std::string_literals;
  const struct {
    std::string path;
    Strings components;
    const char* refusal;
  } cases[] = {
      {"a/b.txt", {"a", "b.txt"}, nullptr},
      {"./kept//ok/./x/", {"kept", "ok", "x"}, nullptr},
      {"a..b/..c/...", {"a..b", "..c", "..."}, nullptr},
      {"a\\..\\b", {"a\\..\\b"}, nullptr},  // a backslash is no separator here
      {"./", {}, nullptr},
      {"", {}, "empty name"},
      {"c:x", {}, "absolute or climbing name"},
      {"..\0x/escaped.txt"s, {}, "name holds a NUL byte"},
      {"a/" + std::string(256, 'n'), {}, "name too long"},
      {"a/" + std::string(255, 'n'), {"a", std::string(255, 'n')}, nullptr},
  };
  for (const auto& test : cases) {
    const MemberPath split = splitMemberPath(test.path);
    EXPECT_EQ(split.components, test.components) << test.path;
    EXPECT_STREQ(split.refusal, test.refusal) << test.path;
  }
  // A file or link needs a name of its own: "./" is the destination itself.
  EXPECT_STREQ(splitEntryPath("./").refusal, "empty name");
  EXPECT_EQ(splitEntryPath("./a").components, Strings{"a"});
}

TEST_F(ExtractionSinkTest, FileGrowingPastItsDeclaredSizeIsStoppedAndLeavesNothing) {
  ExtractionSink sink(destination_.string(), call_);
  auto output = sink.createFile({.path = "bomb.bin", .declaredSize = 10});
  ASSERT_NE(output, nullptr);
  output->write("12345678", 8);
  output->skip(1);
  output->write("0", 1);
  EXPECT_THROW(output->skip(1), ArchiveError);  // a hole grows the file too
  const ArchiveError error = thrown<ArchiveError>([&] { output->write("x", 1); });
  EXPECT_EQ(error.result(), Result::kCorrupt);
  EXPECT_NE(std::string(error.what()).find("larger than declared"), std::string::npos);
  output.reset();
  EXPECT_TRUE(fs::is_empty(destination_));
}

// A folder's time is applied after its content, which would otherwise move it again.
TEST_F(ExtractionSinkTest, MembersGetTheirContentModeAndTimeFoldersAfterTheirContent) {
  ExtractionSink sink((destination_ / "made/with/parents/").string(), call_);
  const fs::path base = destination_ / "made/with/parents";
  writeFile(sink, {.path = "bin/tool", .mtime = 1234567890, .mode = 0100711}, "tool");
  writeFile(sink, {.path = "doc.txt", .mtime = -86400}, "");
  sink.createDirectory(file("./"));
  sink.createDirectory({.path = "dir/", .mtime = 1000000000});
  sink.createDirectory({.path = "dir/sub", .mtime = 1100000000});
  writeFile(sink, file("dir/sub/late.txt"), "late");
  writeFile(sink, file("dir/new/x"), "x");
  EXPECT_EQ(sink.finish(), "4 files extracted");
  EXPECT_EQ(sink.filesWritten(), 4U);
  EXPECT_EQ(modeAndTime(base / "bin/tool"), ModeAndTime(0711, 1234567890));
  EXPECT_EQ(modeAndTime(base / "doc.txt").second, -86400);
  EXPECT_EQ(modeAndTime(base / "dir").second, 1000000000);
  EXPECT_EQ(modeAndTime(base / "dir/sub").second, 1100000000);
}

// The archive's bits, narrowed by the umask and never widened; no set-ID or sticky bits; the
// owner can still read a file and use a folder. A folder that was there keeps its own mode. Plain
// private and read-only modes are kept through every library in hostile_input_test.cpp.
TEST_F(ExtractionSinkTest, ModesComeFromTheArchiveNeverWider) {
  fs::create_directories(destination_ / "theirs");
  fs::permissions(destination_ / "theirs", fs::perms(0755));
  const struct {
    const char* path;
    std::optional<std::uint32_t> mode;
    unsigned umask;
    unsigned expected;
  } cases[] = {
      {"tool", 04755, 022, 0755},          {"no-owner-read", 0044, 022, 0444},
      {"wide", 0777, 077, 0700},           {"none", std::nullopt, 022, 0644},
      {"locked/", 01500, 022, 0700},       {"group/", 0770, 022, 0750},
      {"plain/", std::nullopt, 022, 0755}, {"theirs/", 0700, 022, 0755},
  };
  for (const auto& test : cases) {
    umask(test.umask);
    ExtractionSink sink(destination_.string(), call_);
    const std::string path = test.path;
    if (path.ends_with('/')) {
      sink.createDirectory({.path = path, .mode = test.mode});
    } else {
      writeFile(sink, {.path = path, .mode = test.mode}, "x");
    }
    sink.finish();
    EXPECT_EQ(modeAndTime(destination_ / path).first, test.expected) << path;
  }
  umask(022);
}

TEST_F(ExtractionSinkTest, HardLinksOnlyToMembersAlreadyWritten) {
  std::ofstream(root_ / "secret") << "s";
  ExtractionSink sink(destination_.string(), call_);
  writeFile(sink, file("a/original"), "data");
  sink.createLink(hardlink("a/original", "./a/original"));  // onto itself
  sink.createLink(hardlink("ghost", "not/written"));
  fs::create_symlink(root_ / "secret", destination_ / "preexisting");
  sink.createLink(hardlink("via", "preexisting"));
  std::ofstream(destination_ / "standing") << "the user's";
  sink.createLink(hardlink("via-file", "standing"));
  EXPECT_EQ(finishError(sink).what(),
            std::string("skipped 3 unsafe entries, first: link to a member not extracted: ghost"));
  EXPECT_EQ(fs::hard_link_count(root_ / "secret"), 1U);
  EXPECT_EQ(fs::hard_link_count(destination_ / "standing"), 1U);
  EXPECT_EQ(listing(destination_), (Strings{"a", "a/original", "preexisting", "standing"}));
}

// A reader that gives up (or is stopped) before its first file or link is complete leaves no
// folder; a readable archive gets one, even an empty one.
TEST_F(ExtractionSinkTest, DestinationStaysOnlyWithACompleteMemberOrAFinishWithoutFailure) {
  const std::vector<std::pair<std::function<void(ExtractionSink&)>, bool>> cases = {
      {[](ExtractionSink&) {}, false},  // the reader threw
      {[](ExtractionSink& sink) { EXPECT_EQ(sink.createFile(file("../x")), nullptr); }, false},
      {[](ExtractionSink& sink) { sink.finish(); }, true},  // an empty archive
      {[](ExtractionSink& sink) { sink.createDirectory(file("d/")); }, false},
      {[](ExtractionSink& sink) { sink.createLink(symlink("l", "x")); }, true},
      {[](ExtractionSink& sink) { sink.createFile(file("d/f")); }, false},  // never committed
      {[](ExtractionSink& sink) { sink.createFile(file("f"))->commit(); }, true},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    {
      ExtractionSink sink(destination_.string(), call_);
      cases[i].first(sink);
    }
    EXPECT_EQ(fs::exists(destination_), cases[i].second) << "case " << i;
    fs::remove_all(destination_);
  }
}

// Nothing named appears while a file is written, so a kill leaves nothing behind, and a file
// dropped before its commit leaves nothing either.
TEST_F(ExtractionSinkTest, NoTemporaryNameWhileWritingOrAfterReplacing) {
  ::writeFile(destination_ / "old", "same");
  ExtractionSink sink(destination_.string(), call_);
  for (const std::string name : {"dropped", "old", "new"}) {
    auto output = sink.createFile(file(name));
    output->write("same", 4);
    EXPECT_EQ(listing(destination_), (Strings{"old"})) << name;
    if (name != "dropped") output->commit();
  }
  sink.drain();
  EXPECT_EQ(listing(destination_), (Strings{"new", "old"}));
  EXPECT_EQ(readFile(destination_ / "new"), "same");
}

TEST_F(ExtractionSinkTest, ReplacedFilesAndLinksThatDifferGoToTheTrashIdenticalOnesDoNot) {
  ::writeFile(trash_ / "info/my doc.txt.trashinfo", "taken");
  for (const std::string name : {"a/my doc.txt", "same", "by-link", "by-hard-link"}) {
    ::writeFile(destination_ / name, "old " + name);
  }
  // Links at the names are replaced, never followed, and go to the Trash as the user's.
  std::ofstream(root_ / "outside.txt") << "keep";
  fs::create_symlink(root_ / "outside.txt", destination_ / "victim");
  fs::create_symlink(root_ / "outside.txt", destination_ / "victim2");
  std::ofstream(destination_ / "same-size") << "abc";
  // A strict prefix of the member differs from it; so does a file that extends it.
  std::ofstream(destination_ / "prefix") << "line one\n";
  std::ofstream(destination_ / "longer") << "line one\nline two\n";
  ExtractionSink sink(destination_.string(), call_);
  writeFile(sink, file("a/my doc.txt"), "new");
  writeFile(sink, file("same"), "old same");
  writeFile(sink, file("same-size"), "abd");
  writeFile(sink, file("prefix"), "line one\nline two\n");
  writeFile(sink, file("longer"), "line one\n");
  sink.createLink(symlink("by-link", "same"));
  sink.createLink(hardlink("by-hard-link", "same"));
  writeFile(sink, file("victim"), "new");
  sink.createLink(symlink("victim2", "victim"));
  EXPECT_EQ(sink.finish(), "7 files, 2 links extracted");
  EXPECT_EQ(readFile(root_ / "outside.txt"), "keep");
  EXPECT_EQ(readFile(destination_ / "victim"), "new");
  EXPECT_EQ(fs::read_symlink(destination_ / "victim2"), "victim");
  EXPECT_EQ(readFile(destination_ / "a/my doc.txt"), "new");
  EXPECT_EQ(readFile(destination_ / "by-hard-link"), "old same");

  EXPECT_EQ(listing(trash_ / "files"), (Strings{"by-hard-link", "by-link", "longer", "my doc.2.txt",
                                                "prefix", "same-size", "victim", "victim2"}));
  EXPECT_EQ(readFile(trash_ / "files/longer"), "line one\nline two\n");
  EXPECT_EQ(readFile(trash_ / "files/my doc.2.txt"), "old a/my doc.txt");
  EXPECT_EQ(readFile(trash_ / "files/same-size"), "abc");
  const std::regex info(
      "\\[Trash Info\\]\nPath=" + destination_.string() +
      "/a/my%20doc\\.txt\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n");
  EXPECT_TRUE(std::regex_match(readFile(trash_ / "info/my doc.2.txt.trashinfo"), info))
      << readFile(trash_ / "info/my doc.2.txt.trashinfo");
  EXPECT_EQ(fs::status(trash_ / "files").permissions(), fs::perms::owner_all);
}

// A member decoded on a landing thread must not be overtaken by a later copy of its name.
TEST_F(ExtractionSinkTest, ANameThatComesTwiceEndsAsItsLastCopyHoweverLongTheFirstTakes) {
  ExtractionSink sink(destination_.string(), call_);
  extractSlowly(sink, "x", "first");
  writeFile(sink, file("x"), "second");
  EXPECT_EQ(sink.finish(), "2 files extracted");
  EXPECT_EQ(readFile(destination_ / "x"), "second");
  EXPECT_EQ(readFile(trash_ / "files/x"), "first");
}

// A member that ends the extraction (a full disk) drops what was handed over after it, never
// what came before it, however late a landing thread gets to that.
TEST_F(ExtractionSinkTest, AMemberThatEndsTheExtractionLeavesTheMembersBeforeIt) {
  ExtractionSink sink(destination_.string(), call_);
  extractSlowly(sink, "one/a", "slow");
  writeFile(sink, file("two/a"), "queued behind one/a, by its name");
  const ArchiveError error = thrown<ArchiveError>([&] {
    sink.extractLater(file("b"), {}, [](std::span<const std::uint8_t>, FileOutput&) {
      throw ArchiveError(Result::kWriteFailed, "cannot write, No space left on device", "b");
    });
    sink.finish();
  });
  EXPECT_EQ(error.result(), Result::kWriteFailed);
  EXPECT_EQ(readFile(destination_ / "two/a"), "queued behind one/a, by its name");
}

// Each run starts its search at 1. Copies of one name that earlier runs left must not push the
// numbers up run after run until they overflow and a replacement fails.
TEST_F(ExtractionSinkTest, TrashNumbersStayAsManyAsTheCopiesWhateverEarlierRunsLeft) {
  const auto copy = [&](const char* stem, std::uint64_t n) {
    const std::string number = n == 1 ? "" : "." + std::to_string(n);
    ::writeFile(trash_ / "info" / (stem + number + ".txt.trashinfo"), "");
  };
  for (std::uint64_t n = 1; n <= 50; ++n) copy("c", n);
  // What a doubling search would have left over sixty runs.
  for (std::uint64_t n = 1; n != 0; n = n < 8 ? n + 1 : n * 2) copy("p", n);
  ::writeFile(destination_ / "c.txt", "old c");
  std::ofstream(destination_ / "p.txt") << "old p";
  ExtractionSink sink(destination_.string(), call_);
  writeFile(sink, file("c.txt"), "new");
  writeFile(sink, file("p.txt"), "new");
  EXPECT_EQ(sink.finish(), "2 files extracted");
  EXPECT_EQ(readFile(trash_ / "files/c.51.txt"), "old c");
  EXPECT_EQ(listing(trash_ / "files").size(), 2U);
  EXPECT_FALSE(fs::exists(trash_ / "files/p.0.txt"));  // no number wrapped round
}

TEST_F(ExtractionSinkTest, UnusableTrashKeepsTheOldFileAndNamesIt) {
  std::ofstream(root_ / "plain") << "x";
  setenv("XDG_DATA_HOME", (root_ / "plain/data").c_str(), 1);
  ::writeFile(destination_ / "keep.txt", "old");
  ExtractionSink sink(destination_.string(), call_);
  writeFile(sink, file("keep.txt"), "new");
  writeFile(sink, file("other.txt"), "other");
  const ArchiveError error = finishError(sink);
  EXPECT_EQ(error.result(), Result::kWriteFailed);
  EXPECT_STREQ(error.what(), "not extracted, cannot move to the Trash, Not a directory: keep.txt");
  EXPECT_EQ(readFile(destination_ / "keep.txt"), "old");
  EXPECT_EQ(listing(destination_), (Strings{"keep.txt", "other.txt"}));
}

// Later walks start from the folders an earlier one opened. Swapping such a folder for a link in
// between must not lead a walk through the link: it reaches the real folder, also below it.
TEST_F(DestinationWalkTest, FolderSwappedForALinkBetweenWalksIsNotFollowed) {
  fs::create_directories(root_ / "outside");
  DestinationWalk walk(destination_.string(), DestinationLink::kRefuse);
  const ino_t sub = inodeOf(walk.open({"sub", "one"}, 1, true));
  fs::rename(destination_ / "sub", destination_ / "moved");
  fs::create_directory_symlink(root_ / "outside", destination_ / "sub");
  EXPECT_EQ(inodeOf(walk.open({"sub", "two"}, 1, true)), sub);
  walk.open({"sub", "deeper", "three"}, 2, true);
  EXPECT_TRUE(fs::is_empty(root_ / "outside"));
  EXPECT_TRUE(fs::is_directory(destination_ / "moved/deeper"));
}

// A link at the destination's own name is followed only when the user named it; links above it
// always are (a desktop may be one).
TEST_F(DestinationWalkTest, LinkAtTheDestinationsOwnNameIsFollowedOnlyWhenTold) {
  fs::create_directories(root_ / "outside");
  fs::create_directory_symlink(root_ / "outside", destination_);
  DestinationWalk refusing(destination_.string() + "/", DestinationLink::kRefuse);
  const ArchiveError error = thrown<ArchiveError>([&] { refusing.root(); });
  EXPECT_EQ(error.result(), Result::kWriteFailed);
  EXPECT_EQ(std::string(error.what()), "destination is a symbolic link: " + destination_.string());
  DestinationWalk((destination_ / "new").string(), DestinationLink::kRefuse).root();
  DestinationWalk(destination_.string(), DestinationLink::kFollow).open({"followed", "x"}, 1, true);
  EXPECT_EQ(entriesIn(root_ / "outside"), (Contents{{"followed", "<dir>"}, {"new", "<dir>"}}));
}

// Links that another member could later turn outward are refused when they come: ".." may climb
// only out of real folders. The links are made in this order where they are not refused. Run
// again without openat2 by the suite (see CMakeLists.txt).
TEST_F(DestinationWalkTest, LinksThatALaterMemberCouldTurnOutwardAreRefused) {
  fs::create_directories(root_ / "outside");
  fs::create_directories(destination_ / "sub");
  fs::create_directory_symlink(root_ / "outside", destination_ / "planted");
  open_how how{.flags = O_PATH, .mode = 0, .resolve = 0};
  const long probe = syscall(SYS_openat2, AT_FDCWD, "/", &how, sizeof how);
  const bool openat2 = probe >= 0 || errno != ENOSYS;
  if (probe >= 0) close(static_cast<int>(probe));
  const char* climbs = "link climbs out of a link or a missing folder";
  const struct {
    const char* path;
    const char* target;
    const char* refusal;
  } cases[] = {
      {"here", ".", nullptr},
      {"a/escape", "../here/../../x", climbs},  // out of a link
      {"later", "dot/../x", climbs},            // out of a folder not there yet
      {"dot", ".", nullptr},
      {"x", "y/y/y/../../..", climbs},
      {"y", ".", nullptr},
      // Through a link that was there before.
      {"via", "planted/f", openat2 ? "link points outside" : "link passes through a link"},
      {"loop", "loop", nullptr},
      {"in", "sub/../here/sub/file", nullptr},  // through real folders and own links
  };
  DestinationWalk walk(destination_.string(), DestinationLink::kRefuse);
  for (const auto& test : cases) {
    const std::vector<std::string> components = splitEntryPath(test.path).components;
    walk.open(components, components.size() - 1, true);
    EXPECT_STREQ(walk.linkTargetProblem(components, test.target), test.refusal) << test.path;
    if (test.refusal != nullptr) continue;
    fs::create_symlink(test.target, destination_ / test.path);
    walk.linkMade(test.path);
  }
}

}  // namespace
}  // namespace archivers
