// A file rewritten in place at the same size while a writer packs it (a database, a disk image)
// would go in as old bytes up to some offset and new ones after. Every writer refuses it, also
// when the rewrite put the modification time back: the change time still moved.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <functional>

#include "cab/cabinet_writer.h"
#include "common/progress.h"
#include "lzh/lzh_writer.h"
#include "support/sample_files.h"
#include "support/temporary_folder.h"
#include "support/thrown.h"

namespace fs = std::filesystem;
using archivers::ProgressSnapshot;

namespace {

// Called at every checkpoint of the calling thread.
class OnCheckpoint final : public archivers::ProgressPresenter {
 public:
  explicit OnCheckpoint(std::function<void(const ProgressSnapshot&)> action)
      : action_(std::move(action)) {}
  std::chrono::milliseconds delay() const override { return {}; }
  std::chrono::milliseconds interval() const override { return {}; }
  bool update(const ProgressSnapshot& snapshot) override {
    action_(snapshot);
    return false;
  }

 private:
  std::function<void(const ProgressSnapshot&)> action_;
};

// Rewrites 4 KiB in the middle. With keepTime the modification time is put back, as a tool that
// preserves times does, once the clock has passed the change time, so that only that one tells.
void rewriteInPlace(const fs::path& file, bool keepTime) {
  struct stat before {};
  ASSERT_EQ(stat(file.c_str(), &before), 0);
  const auto nanoseconds = [](const timespec& t) { return t.tv_sec * 1000000000LL + t.tv_nsec; };
  for (timespec now{}; clock_gettime(CLOCK_REALTIME_COARSE, &now) == 0 &&
                       nanoseconds(now) <= nanoseconds(before.st_ctim);) {
    usleep(1000);
  }
  const int fd = open(file.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  const std::string bytes(4096, 'X');
  EXPECT_EQ(pwrite(fd, bytes.data(), bytes.size(), before.st_size / 2), 4096);
  if (keepTime) {
    const timespec times[2] = {before.st_atim, before.st_mtim};
    EXPECT_EQ(futimens(fd, times), 0);
  }
  close(fd);
}

TEST(ChangedWhilePacked, EveryWriterRefusesAFileRewrittenAtTheSameSize) {
  setenv("PARVO_THREADS", "1", 1);
  const struct {
    const char* archive;
    std::function<void(const std::string&, archivers::FollowedCall&)> write;
    // When the calling thread sees the file being read. The cabinet reads on a worker: its first
    // checkpoint after the walk comes before it has taken the first 1 MiB task from a single
    // worker, which then runs at most one task ahead, so it opens z.bin (from the second task on)
    // again after the rewrite.
    std::function<bool(const ProgressSnapshot&)> due;
  } writers[] = {
      {"a.cab",
       [](const std::string& to, archivers::FollowedCall& call) {
         archivers::cab::writeCabinet(to, false, {}, call);
       },
       [](const ProgressSnapshot& snapshot) { return snapshot.total > 0; }},
      {"a.lzh",
       [](const std::string& to, archivers::FollowedCall& call) {
         archivers::lzh::writeArchive(to, false, call);
       },
       [](const ProgressSnapshot& snapshot) { return snapshot.member == "z.bin"; }},
  };
  for (const auto& writer : writers) {
    for (const bool keepTime : {false, true}) {
      SCOPED_TRACE(std::string(writer.archive) + (keepTime ? ", time put back" : ""));
      TemporaryFolder work;
      writeFiles(work / "src", {{"a.bin", noise(1536 << 10, 1)}, {"z.bin", noise(3 << 20, 2)}});
      const InFolder in(work / "src");
      bool rewritten = false;
      archivers::FollowedCall call(
          std::make_unique<OnCheckpoint>([&](const ProgressSnapshot& snapshot) {
            if (rewritten || !writer.due(snapshot)) return;
            rewriteInPlace(work / "src/z.bin", keepTime);
            rewritten = true;
          }));
      const archivers::ArchiveError error =
          thrown<archivers::ArchiveError>([&] { writer.write(work / writer.archive, call); });
      EXPECT_TRUE(rewritten);
      EXPECT_EQ(error.result(), archivers::Result::kCannotOpen);
      EXPECT_STREQ(error.what(), "cannot read, it changed while being packed: z.bin");
      EXPECT_FALSE(fs::exists(work / writer.archive));
    }
  }
  unsetenv("PARVO_THREADS");
}

}  // namespace
