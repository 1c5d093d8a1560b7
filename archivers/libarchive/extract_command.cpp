#include "libarchive/extract_command.h"

#include "common/archive_error.h"
#include "common/command_line.h"
#include "libarchive/libarchive_extraction.h"

namespace archivers {

std::string runExtractCommand(std::string_view commandLine, std::string_view option,
                              ArchiveKind kind) {
  const Command command = parseCommand(commandLine);
  requireOptionsWithin(command, {option});
  if (!command.hasOption(option)) {
    throw ArchiveError(Result::kBadCommandLine, "only extraction is supported: expected " +
                                                    std::string(option) + " \"ARCHIVE\" \"DEST/\"");
  }
  requireOperandCount(command, 2);
  const std::string& archivePath = command.operands[0];
  const std::string& destination = command.operands[1];
  if (archivePath.empty() || destination.empty()) {
    throw ArchiveError(Result::kBadCommandLine, "empty archive or destination name");
  }
  return extractWithLibarchive(archivePath, destination, kind);
}

}  // namespace archivers
