#include <atomic>

#include "cab/cabinet_extraction.h"
#include "cab/cabinet_writer.h"
#include "cab/self_extractor.h"
#include "common/archive_error.h"
#include "common/command_line.h"
#include "common/entry_point.h"

namespace {

std::atomic<int> operationsRunning{0};

class RunningOperation {
 public:
  RunningOperation() { ++operationsRunning; }
  RunningOperation(const RunningOperation&) = delete;
  RunningOperation& operator=(const RunningOperation&) = delete;
  ~RunningOperation() { --operationsRunning; }
};

bool hasAll(const archivers::Command& command, std::initializer_list<std::string_view> options) {
  for (std::string_view option : options) {
    if (!command.hasOption(option)) return false;
  }
  return true;
}

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

archivers::Outcome runCommand(std::string_view line) {
  using archivers::ArchiveError;
  using archivers::Result;
  const archivers::Command command = archivers::parseCommand(line);
  if (command.hasOption("-x")) {
    archivers::requireOptionsWithin(command, {"-x", "-o", "-r"});
    if (!hasAll(command, {"-o", "-r"})) {
      throw ArchiveError(Result::kBadCommandLine, "extraction takes -x -o -r together");
    }
    archivers::requireOperandCount(command, 2);
    return archivers::cab::extractCabinet(command.operands[0], command.operands[1]);
  }
  if (command.hasOption("-a")) {
    const archivers::cab::CompressionMethod method = packingMethod(command);
    if (command.operands.size() < 2) {
      throw ArchiveError(Result::kBadCommandLine, "-a needs a cabinet and files to add");
    }
    if (command.operands.size() != 2 || command.operands[1] != "*.*") {
      throw ArchiveError(Result::kUnsupported, "only *.* (every file) can be added");
    }
    return archivers::cab::writeCabinet(command.operands[0], command.hasOption("-r"), method);
  }
  if (command.hasOption("-f")) {
    archivers::requireOptionsWithin(command, {"-f"});
    archivers::requireOperandCount(command, 2);
    return archivers::cab::writeSelfExtractor(command.operands[0], command.operands[1]);
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
