#include "common/archive_error.h"
#include "common/command_line.h"
#include "common/entry_point.h"
#include "common/extraction_driver.h"
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
  return archivers::runExtraction(command, {"e", {"-rxy"}}, archivers::lzh::kReader, call);
}

}  // namespace

ARCHIVER_EXPORT int32_t Unlha(int32_t, const char* commandLine, char* output, int32_t size) {
  return archivers::runEntryPoint(commandLine, output, size, runUnlha);
}
