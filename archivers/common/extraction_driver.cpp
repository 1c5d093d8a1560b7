#include "common/extraction_driver.h"

namespace archivers {

std::string runExtraction(const Command& command, const ExtractionForm& form,
                          const FormatReader& reader, FollowedCall& call) {
  const std::size_t verbs = form.verb.empty() ? 0 : 1;
  if (verbs != 0 && !command.operands.empty() && command.operands.front() != form.verb) {
    throw ArchiveError(Result::kBadCommandLine, "unknown command " + command.operands.front());
  }
  requireOptionsWithin(command, form.options);
  for (std::string_view option : form.options) {
    if (!command.hasOption(option)) {
      std::string expected(form.verb);
      for (std::string_view each : form.options) {
        if (!expected.empty()) expected += ' ';
        expected += each;
      }
      throw ArchiveError(Result::kBadCommandLine,
                         "extraction takes " + expected + " \"ARCHIVE\" \"DEST/\"");
    }
  }
  requireOperandCount(command, verbs + 2);
  const std::string& archive = command.operands[verbs];
  const std::string& destination = command.operands[verbs + 1];
  if (archive.empty() || destination.empty()) {
    throw ArchiveError(Result::kBadCommandLine, "empty archive or destination name");
  }
  FileArchiveInput input(archive, call);
  call.setArchive(archive, input.size());
  return extractArchive(reader, input, destination, call);
}

std::string runExtraction(std::string_view commandLine, const ExtractionForm& form,
                          const FormatReader& reader, FollowedCall& call) {
  return runExtraction(parseCommand(commandLine), form, reader, call);
}

std::string extractArchive(const FormatReader& reader, ArchiveInput& input,
                           const std::string& destination, FollowedCall& call) {
  ExtractionSink sink(destination, call);
  // Damage that stops a reader short is one more failure: what was read before it stays, and the
  // summary reports it with the rest.
  guardMember(sink, {}, [&] { reader.read(input, sink); });
  return sink.finish();
}

}  // namespace archivers
