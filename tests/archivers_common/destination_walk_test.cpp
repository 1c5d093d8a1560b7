#include "common/destination_walk.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "common/archive_error.h"
#include "common/member_path.h"
#include "support/thrown.h"
#include "support/tree_snapshot.h"

namespace archivers {
namespace {

namespace fs = std::filesystem;

// The destination lives in dest/; everything else in the folder counts as outside it.
class DestinationWalkTest : public testing::Test {
 protected:
  // The inode of the folder a walk reaches; 0 when it is refused.
  static ino_t inodeOf(const DestinationWalk::Reached& reached) {
    struct stat status {};
    EXPECT_EQ(reached.refusal, nullptr) << reached.refusal;
    return reached.folder != nullptr && fstat(reached.folder->fd, &status) == 0 ? status.st_ino : 0;
  }

  TemporaryFolder folder_;
  const fs::path root_ = folder_.path();
  const fs::path destination_ = root_ / "dest";
};

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
