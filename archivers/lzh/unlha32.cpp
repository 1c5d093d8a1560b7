#include "common/archive_error.h"
#include "common/command_line.h"
#include "common/entry_point.h"
#include "lzh/lzh_extractor.h"
#include "lzh/lzh_writer.h"

namespace {

// "e -rxy ARCHIVE DEST/" extracts with folders; "a -rx OUT *.*" packs the current folder with its
// folders, "a OUT *.*" only its own files.
archivers::Outcome runUnlha(std::string_view line, archivers::FollowedCall& call) {
  const archivers::Command command = archivers::parseCommand(line);
  if (command.operands.empty()) {
    throw archivers::ArchiveError(archivers::Result::kBadCommandLine, "no command given");
  }
  const std::string& verb = command.operands.front();
  if (verb == "a") {
    archivers::requireOptionsWithin(command, {"-rx"});
    archivers::requireOperandCount(command, 3);
    if (command.operands[2] != "*.*") {
      throw archivers::ArchiveError(archivers::Result::kBadCommandLine,
                                    "only *.* (every file) can be added");
    }
    return archivers::lzh::writeArchive(command.operands[1], command.hasOption("-rx"), call);
  }
  if (verb != "e") {
    throw archivers::ArchiveError(archivers::Result::kBadCommandLine, "unknown command " + verb);
  }
  archivers::requireOptionsWithin(command, {"-rxy"});
  if (!command.hasOption("-rxy")) {
    throw archivers::ArchiveError(archivers::Result::kBadCommandLine,
                                  "extraction needs the -rxy option");
  }
  archivers::requireOperandCount(command, 3);
  return archivers::lzh::extractArchive(command.operands[1], command.operands[2], call);
}

}  // namespace

ARCHIVER_EXPORT int32_t Unlha(int32_t, const char* commandLine, char* output, int32_t size) {
  return archivers::runEntryPoint(commandLine, output, size, runUnlha);
}
