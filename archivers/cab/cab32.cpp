#include <sys/stat.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

#include "cab/cabinet_extraction.h"
#include "cab/cabinet_writer.h"
#include "cab/self_extractor.h"
#include "common/archive_error.h"
#include "common/command_line.h"
#include "common/entry_point.h"
#include "common/extraction_driver.h"
#include "common/folder_walk.h"

namespace {

std::atomic<int> operationsRunning{0};

class RunningOperation {
 public:
  RunningOperation() { ++operationsRunning; }
  RunningOperation(const RunningOperation&) = delete;
  RunningOperation& operator=(const RunningOperation&) = delete;
  ~RunningOperation() { --operationsRunning; }
};

// The empty folders of the cabinet this library wrote last, for the self-extracting program made
// from it: the program's own trailer carries them, the cabinet cannot. Parvo converts its cabinet
// with the next call; a cabinet changed or replaced in between, or made elsewhere, carries none.
class LastCabinet {
 public:
  void remember(const std::string& path, std::vector<archivers::cab::SfxFolder> folders) {
    const std::lock_guard lock(mutex_);
    stamp_ = stampOf(path);
    folders_ = std::move(folders);
  }

  std::vector<archivers::cab::SfxFolder> emptyFoldersOf(const std::string& path) {
    const std::lock_guard lock(mutex_);
    const std::optional<Stamp> stamp = stampOf(path);
    return stamp && stamp == stamp_ ? folders_ : std::vector<archivers::cab::SfxFolder>{};
  }

 private:
  struct Stamp {
    archivers::FileIdentity identity;
    off_t size;
    archivers::ChangeStamp change;
    bool operator==(const Stamp&) const = default;
  };

  static std::optional<Stamp> stampOf(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return std::nullopt;
    return Stamp{archivers::identityOf(status), status.st_size, archivers::changeStampOf(status)};
  }

  std::mutex mutex_;
  std::optional<Stamp> stamp_;
  std::vector<archivers::cab::SfxFolder> folders_;
};

LastCabinet lastCabinet;

// -ml:15 to -ml:21: LZX with a window of 2^N bytes; -mz or no method option: MSZIP. At most one.
archivers::cab::CompressionMethod packingMethod(const archivers::Command& command) {
  using archivers::cab::CompressionMethod;
  archivers::requireOptionsWithin(command, {"-a", "-r", "-mz", "-ml:15", "-ml:16", "-ml:17",
                                            "-ml:18", "-ml:19", "-ml:20", "-ml:21"});
  CompressionMethod method;
  int methods = 0;
  for (const std::string& option : command.options) {
    if (option == "-mz") {
      ++methods;
    } else if (option.starts_with("-ml:")) {
      ++methods;
      method = {CompressionMethod::Kind::kLzx, std::stoi(option.substr(4))};
    }
  }
  if (methods > 1) {
    throw archivers::ArchiveError(archivers::Result::kBadCommandLine,
                                  "more than one compression method");
  }
  return method;
}

archivers::Outcome runCommand(std::string_view line, archivers::FollowedCall& call) {
  using archivers::ArchiveError;
  using archivers::Result;
  const archivers::Command command = archivers::parseCommand(line);
  if (command.hasOption("-x")) {
    return archivers::runExtraction(command, {"", {"-x", "-o", "-r"}}, archivers::cab::kReader,
                                    call);
  }
  if (command.hasOption("-a")) {
    const archivers::cab::CompressionMethod method = packingMethod(command);
    if (command.operands.size() < 2) {
      throw ArchiveError(Result::kBadCommandLine, "-a needs a cabinet and files to add");
    }
    if (command.operands.size() != 2 || command.operands[1] != "*.*") {
      throw ArchiveError(Result::kUnsupported, "only *.* (every file) can be added");
    }
    std::vector<archivers::cab::SfxFolder> emptyFolders;
    archivers::Outcome outcome = archivers::cab::writeCabinet(
        command.operands[0], command.hasOption("-r"), method, call, &emptyFolders);
    lastCabinet.remember(command.operands[0], std::move(emptyFolders));
    return outcome;
  }
  if (command.hasOption("-f")) {
    archivers::requireOptionsWithin(command, {"-f"});
    archivers::requireOperandCount(command, 2);
    return archivers::cab::writeSelfExtractor(command.operands[0], command.operands[1], call,
                                              lastCabinet.emptyFoldersOf(command.operands[0]));
  }
  throw ArchiveError(Result::kBadCommandLine, "expected -x, -a or -f");
}

}  // namespace

ARCHIVER_EXPORT int32_t Cab(int32_t, const char* commandLine, char* output, int32_t size) {
  const RunningOperation running;
  return archivers::runEntryPoint(commandLine, output, size, runCommand);
}

ARCHIVER_EXPORT int32_t CabGetRunning() {
  return operationsRunning.load() > 0 ? 1 : 0;
}
