// The user's cancel, as each reader and writer takes it: inside a member larger than 64 MiB, and
// inside the LZX coder's worker threads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#include "arj/arj_extractor.h"
#include "cab/cabinet_extraction.h"
#include "cab/cabinet_writer.h"
#include "common/progress.h"
#include "libarchive/libarchive_extraction.h"
#include "lzh/lzh_extractor.h"
#include "lzh/lzh_writer.h"
#include "support/peer_tool.h"
#include "support/temporary_folder.h"
#include "support/thrown.h"
#include "zip/zip_extraction.h"

namespace fs = std::filesystem;
using archivers::ArchiveError;
using archivers::ProgressSnapshot;
using archivers::Result;

namespace {

constexpr std::uintmax_t kBigMember = 160u << 20;
const std::string kSmallText = "complete before the large member\n";

class StopWhen final : public archivers::ProgressPresenter {
 public:
  explicit StopWhen(std::function<bool(const ProgressSnapshot&)> condition)
      : condition_(std::move(condition)) {}
  std::chrono::milliseconds delay() const override { return std::chrono::milliseconds(0); }
  // Asked at every checkpoint: a large member of zeros is written in a few milliseconds.
  std::chrono::milliseconds interval() const override { return std::chrono::milliseconds(0); }
  bool update(const ProgressSnapshot& snapshot) override { return condition_(snapshot); }

 private:
  std::function<bool(const ProgressSnapshot&)> condition_;
};

// The calls pack the current folder.
class InFolder {
 public:
  explicit InFolder(const fs::path& folder) : previous_(fs::current_path()) {
    fs::current_path(folder);
  }
  ~InFolder() { fs::current_path(previous_); }

 private:
  fs::path previous_;
};

Result resultStopped(const std::function<bool(const ProgressSnapshot&)>& condition,
                     const std::function<void()>& call) {
  const archivers::FollowedCall followed(std::make_unique<StopWhen>(condition));
  try {
    call();
  } catch (const ArchiveError& error) {
    return error.result();
  }
  return Result::kOk;
}

class CancelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFile(folder / "src/small.txt", kSmallText);
    fs::resize_file(folder / "src/small.txt", kSmallText.size());
    std::ofstream(folder / "src/big.bin").close();
    fs::resize_file(folder / "src/big.bin", kBigMember);  // zeros, without the disk space
  }

  TemporaryFolder folder;
};

// Stopped inside the large member: it is discarded, the member complete before it stays whole,
// nothing else is left (no temporary names), and the call says it was cancelled.
TEST_F(CancelTest, EveryReaderStopsInsideALargeMemberKeepingCompleteOnesOnly) {
  const fs::path src = folder / "src";
  struct Case {
    std::string archive;
    std::function<void()> make;
    std::function<void(const std::string&, const std::string&)> extract;
  };
  const auto throughLibarchive = [](archivers::ArchiveKind kind) {
    return [kind](const std::string& archive, const std::string& destination) {
      archivers::runExtractCommand("-x \"" + archive + "\" \"" + destination + "\"", "-x", kind);
    };
  };
  const std::vector<Case> cases = {
      {"a.cab",
       [&] {
         const InFolder in(src);
         archivers::cab::writeCabinet(folder / "a.cab", false, {});
       },
       archivers::cab::extractCabinet},
      {"a.lzh",
       [&] {
         const InFolder in(src);
         archivers::lzh::writeArchive(folder / "a.lzh", false);
       },
       archivers::lzh::extractArchive},
      {"a.arj",
       [&] {
         runTool({"arj", "a", "-m0", "-y", "../a.arj", "small.txt", "big.bin"}, src);
       },
       archivers::arj::extractArchive},
      {"a.zip",
       [&] {
         runTool({"zip", "-q", "-1", "../a.zip", "small.txt", "big.bin"}, src);
       },
       [](const std::string& archive, const std::string& destination) {
         archivers::FileArchiveInput input(archive);
         archivers::ExtractionSink sink(destination);
         archivers::zip::extractZipMembers(input, *archivers::zip::readZipDirectory(input), sink);
       }},
      {"fallback.zip",
       [&] {
         runTool({"zip", "-q", "-1", "../fallback.zip", "small.txt", "big.bin"}, src);
       },
       throughLibarchive(archivers::ArchiveKind::kZip)},
      {"a.tar",
       [&] {
         runTool({"tar", "cf", "../a.tar", "small.txt", "big.bin"}, src);
       },
       throughLibarchive(archivers::ArchiveKind::kTar)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.archive);
    c.make();
    const fs::path archive = folder / c.archive;
    const fs::path destination = folder / ("out-" + c.archive);
    const Result result =
        resultStopped([](const ProgressSnapshot& snapshot) { return snapshot.member == "big.bin"; },
                      [&] { c.extract(archive, destination.string() + "/"); });
    EXPECT_EQ(result, Result::kCancelled);
    // No folder at all when the large member came first.
    if (fs::exists(destination)) {
      for (const auto& entry : fs::recursive_directory_iterator(destination)) {
        ASSERT_EQ(entry.path().filename(), "small.txt");
        EXPECT_EQ(readFile(entry.path()), kSmallText);
      }
    }
    fs::remove(archive);
    fs::remove_all(destination);
  }
}

// Stopped halfway: nothing under the archive's name but the older archive, untouched, and no
// temporary file beside it.
TEST_F(CancelTest, EveryWriterStopsHalfwayLeavingTheOlderArchiveAlone) {
  const std::vector<std::pair<std::string, std::function<void(const std::string&)>>> cases = {
      {"a.cab",
       [](const std::string& destination) {
         archivers::cab::writeCabinet(destination, false,
                                      {archivers::cab::CompressionMethod::Kind::kLzx, 21});
       }},
      {"a.lzh",
       [](const std::string& destination) { archivers::lzh::writeArchive(destination, false); }},
  };
  for (const auto& [name, write] : cases) {
    SCOPED_TRACE(name);
    const fs::path out = folder / ("out-" + name);
    writeFile(out / name, "older archive\n");
    const InFolder in(folder / "src");
    std::uint64_t doneWhenStopped = 0;
    const Result result = resultStopped(
        [&](const ProgressSnapshot& snapshot) {
          doneWhenStopped = snapshot.done;
          return snapshot.done * 2 > snapshot.total;
        },
        [&] { write(out / name); });
    EXPECT_EQ(result, Result::kCancelled);
    EXPECT_LT(doneWhenStopped, kBigMember);  // while packing, not only once all was read
    EXPECT_EQ(readFile(out / name), "older archive\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1);
  }
}

}  // namespace
