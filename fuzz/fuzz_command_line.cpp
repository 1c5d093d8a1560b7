// Any byte string as a command line: the tokenizer either reports a bad command line or returns
// tokens holding every byte but the separators and quotes (blanks inside quotes included).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/archive_error.h"
#include "common/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  archivers::Command command;
  try {
    command = archivers::parseCommand(line);
  } catch (const archivers::ArchiveError& error) {
    if (error.result() != archivers::Result::kBadCommandLine) std::abort();
    return 0;
  }
  // Options and operands are split in two lists, so only the total byte count can be compared.
  std::size_t total = 0;
  for (const auto& option : command.options) {
    if (option.empty() || option.front() != '-') std::abort();
    total += option.size();
  }
  for (const auto& operand : command.operands) {
    if (!operand.empty() && operand.front() == '-') std::abort();
    total += operand.size();
  }
  std::size_t kept = 0;  // every byte but quotes, and blanks only inside quotes
  bool quoted = false;
  for (const char c : line) {
    if (c == '"') {
      quoted = !quoted;
    } else if (quoted || (c != ' ' && c != '\t')) {
      ++kept;
    }
  }
  if (total != kept) std::abort();

  try {
    archivers::requireOptionsWithin(command, {"-x", "-o", "-r", "-xv", "-xvf"});
    archivers::requireOperandCount(command, 2);
  } catch (const archivers::ArchiveError& error) {
    if (error.result() != archivers::Result::kBadCommandLine) std::abort();
  }
  return 0;
}
