#include "arj/arj_extractor.h"
#include "common/archive_error.h"
#include "common/command_line.h"
#include "common/entry_point.h"

namespace {

// x -u "ARCHIVE" "DEST/": extract everything, folders included.
std::string runCommand(std::string_view line, archivers::FollowedCall& call) {
  using archivers::ArchiveError;
  using archivers::Result;
  const archivers::Command command = archivers::parseCommand(line);
  archivers::requireOptionsWithin(command, {"-u"});
  archivers::requireOperandCount(command, 3);
  if (command.operands[0] != "x") {
    throw ArchiveError(Result::kBadCommandLine, "unknown command: " + command.operands[0]);
  }
  if (!command.hasOption("-u")) throw ArchiveError(Result::kBadCommandLine, "option -u expected");
  return archivers::arj::extractArchive(command.operands[1], command.operands[2], call);
}

}  // namespace

ARCHIVER_EXPORT int32_t UnArj(int32_t, const char* commandLine, char* output, int32_t size) {
  return archivers::runEntryPoint(commandLine, output, size, runCommand);
}
