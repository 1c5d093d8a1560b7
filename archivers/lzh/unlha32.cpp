#include "common/archive_error.h"
#include "common/command_line.h"
#include "common/entry_point.h"
#include "lzh/lzh_extractor.h"

namespace {

// "e -rxy ARCHIVE DEST/" extracts with folders; "a -rx OUT *.*" would create an archive.
std::string runUnlha(std::string_view line) {
  const archivers::Command command = archivers::parseCommand(line);
  if (command.operands.empty()) {
    throw archivers::ArchiveError(archivers::Result::kBadCommandLine, "no command given");
  }
  const std::string& verb = command.operands.front();
  if (verb == "a") {
    archivers::requireOptionsWithin(command, {"-rx"});
    throw archivers::ArchiveError(archivers::Result::kUnsupported,
                                  "creating LZH archives is not supported");
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
  return archivers::lzh::extractArchive(command.operands[1], command.operands[2]);
}

}  // namespace

ARCHIVER_EXPORT int32_t Unlha(int32_t, const char* commandLine, char* output, int32_t size) {
  return archivers::runEntryPoint(commandLine, output, size, runUnlha);
}
