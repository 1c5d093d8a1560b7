// One member policy for every format: the same faults, run through each reader by the one driver,
// end the same way. Damage to one member costs that member alone; a full disk, an input that can no
// longer be read and the user's stop end the extraction; what was complete stays, whole.
#include <sys/resource.h>

#include <csignal>
#include <limits>

#include "cab/cabinet_writer.h"
#include "format_readers.h"
#include "lzh/lzh_writer.h"
#include "support/peer_tool.h"
#include "support/sample_files.h"
#include "support/tree_snapshot.h"
#include "support/watchdog.h"

using archivers::ArchiveError;
using archivers::Result;

namespace {

// b is as large as a and c together, so b's data is the middle half of every archive and c's the
// last quarter, whatever the format's headers; random bytes keep compression from moving them.
constexpr std::size_t kSmall = 1536 * 1024;
const std::vector<std::pair<std::string, std::size_t>> kMembers = {
    {"a.dat", kSmall}, {"b.dat", 2 * kSmall}, {"c.dat", kSmall}};

// Reads every byte through the file, except that any read touching failAt fails as a disk does.
class FailingInput final : public archivers::FileArchiveInput {
 public:
  FailingInput(const std::string& path, std::uint64_t failAt, archivers::FollowedCall& call)
      : FileArchiveInput(path, call), failAt_(failAt) {}
  std::size_t readAt(std::uint64_t position, void* data, std::size_t count) override {
    if (position <= failAt_ && failAt_ < position + count) {
      throw ArchiveError(Result::kCannotOpen, "cannot read, Input/output error");
    }
    return FileArchiveInput::readAt(position, data, count);
  }

 private:
  std::uint64_t failAt_;
};

// The user's stop halfway through the archive, inside b.
class StopHalfway final : public archivers::ProgressPresenter {
 public:
  std::chrono::milliseconds delay() const override { return {}; }
  std::chrono::milliseconds interval() const override { return {}; }
  bool update(const archivers::ProgressSnapshot& snapshot) override {
    return snapshot.done >= snapshot.total / 2;
  }
};

struct Outcome {
  Result result = Result::kOk;
  std::string message;
};

class MemberPolicyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsigned seed = 1;
    for (const auto& [name, size] : kMembers) contents[name] = noise(size, seed++);
    writeFiles(folder / "src", contents);
    const fs::path src = folder / "src";
    runTool({"zip", "-q", "-0", "../m.zip", "a.dat", "b.dat", "c.dat"}, src);
    runTool({"tar", "-cf", "../m.tar", "a.dat", "b.dat", "c.dat"}, src);
    runTool({"arj", "a", "-m0", "-y", "../m.arj", "a.dat", "b.dat", "c.dat"}, src);
    const InFolder in(src);
    archivers::FollowedCall making(nullptr);
    // A window of 32 KiB cuts each member into a folder of its own, as a ZIP's members are.
    archivers::cab::writeCabinet(folder / "m.cab", false,
                                 {archivers::cab::CompressionMethod::Kind::kLzx, 15}, making);
    archivers::lzh::writeArchive(folder / "m.lzh", false, making);
  }

  fs::path archive(std::string_view format) const { return folder / ("m." + std::string(format)); }

  // Where a byte of b is damaged: its data, or in a TAR, which has no checksum over data, its
  // header's checksummed name.
  std::uint64_t damagePoint(std::string_view format) const {
    const std::string bytes = readFile(archive(format));
    if (format != "tar") return bytes.size() / 2;
    std::size_t at = 0;
    while ((at = bytes.find("b.dat", at + 1)) % 512 != 0) {
    }
    return at;
  }

  // Extracts the archive file into out as the libraries do, the call shown to presenter; any read
  // touching failAt fails.
  Outcome extract(const archivers::FormatReader& reader, const fs::path& file,
                  std::unique_ptr<archivers::ProgressPresenter> presenter = nullptr,
                  std::uint64_t failAt = std::numeric_limits<std::uint64_t>::max()) {
    archivers::FollowedCall call(std::move(presenter));
    FailingInput input(file, failAt, call);
    call.setArchive(file.string(), input.size());
    try {
      return {Result::kOk, archivers::extractArchive(reader, input, folder / "out", call)};
    } catch (const ArchiveError& error) {
      return {error.result(), error.what()};
    }
  }

  // The members in the destination, each whole; a partial one fails the test.
  std::vector<std::string> membersLeft() const {
    expectOnlyIntactFiles(folder / "out", contents);
    std::vector<std::string> names;
    for (const auto& [name, bytes] : filesIn(folder / "out")) names.push_back(name);
    return names;
  }

  TemporaryFolder folder;
  std::map<std::string, std::string> contents;
};

TEST_F(MemberPolicyTest, EveryFormatEndsTheSameFaultTheSameWay) {
  struct Fault {
    std::string name;
    std::function<Outcome(const archivers::FormatReader&)> run;
    Result result;
    std::vector<std::string> left;
    std::string named = {};      // the member the message names, when it names one
    std::string mayBeLeft = {};  // whole, when it was decoded beside the member that failed
  };
  const std::vector<Fault> faults = {
      {"damaged member",
       [&](const archivers::FormatReader& reader) {
         std::string bytes = readFile(archive(reader.format));
         bytes[damagePoint(reader.format)] ^= 0x55;
         writeFile(folder / "altered", bytes);
         return extract(reader, folder / "altered");
       },
       Result::kCorrupt,
       {"a.dat", "c.dat"},
       "b.dat"},
      {"read error",
       [&](const archivers::FormatReader& reader) {
         return extract(reader, archive(reader.format), nullptr,
                        fs::file_size(archive(reader.format)) / 2);
       },
       Result::kCannotOpen,
       {"a.dat"}},
      {"full disk",
       [&](const archivers::FormatReader& reader) {
         // The limit is per file: a fits, b does not. Set in a child, whose status is the result.
         const int status = exitStatusInChild(60, [&] {
           std::signal(SIGXFSZ, SIG_IGN);
           const rlimit limit{kSmall + kSmall / 2, kSmall + kSmall / 2};
           ::setrlimit(RLIMIT_FSIZE, &limit);
           return static_cast<int>(extract(reader, archive(reader.format)).result);
         });
         return Outcome{static_cast<Result>(status), ""};
       },
       Result::kWriteFailed,
       {"a.dat"},
       "",
       "c.dat"},
      {"cancel",
       [&](const archivers::FormatReader& reader) {
         return extract(reader, archive(reader.format), std::make_unique<StopHalfway>());
       },
       Result::kCancelled,
       {"a.dat"}},
  };
  for (const archivers::FormatReader& reader : archivers::kFormatReaders) {
    for (const Fault& fault : faults) {
      SCOPED_TRACE(std::string(reader.format) + ", " + fault.name);
      const Outcome outcome = fault.run(reader);
      EXPECT_EQ(outcome.result, fault.result) << outcome.message;
      // A TAR's damaged header takes the member's name with it.
      const bool nameLost = reader.format == "tar" && fault.name == "damaged member";
      if (!fault.named.empty() && !nameLost) {
        EXPECT_NE(outcome.message.find(fault.named), std::string::npos) << outcome.message;
      }
      std::vector<std::string> left = membersLeft();
      std::erase(left, fault.mayBeLeft);
      EXPECT_EQ(left, fault.left);
      fs::remove_all(folder / "out");
    }
  }
}

}  // namespace
