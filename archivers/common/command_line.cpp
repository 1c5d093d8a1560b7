#include "common/command_line.h"

#include <algorithm>

#include "common/archive_error.h"

namespace archivers {

bool Command::hasOption(std::string_view option) const {
  return std::find(options.begin(), options.end(), option) != options.end();
}

Command parseCommand(std::string_view line) {
  Command command;
  std::string token;
  bool inToken = false;  // true once a token has begun, even as an empty pair of quotes
  bool quoted = false;
  auto finishToken = [&] {
    if (!inToken) return;
    if (!token.empty() && token.front() == '-') {
      command.options.push_back(std::move(token));
    } else {
      command.operands.push_back(std::move(token));
    }
    token.clear();
    inToken = false;
  };
  for (const char c : line) {
    if (c == '"') {
      quoted = !quoted;
      inToken = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      finishToken();
    } else {
      token.push_back(c);
      inToken = true;
    }
  }
  if (quoted) throw ArchiveError(Result::kBadCommandLine, "unbalanced quote in the command line");
  finishToken();
  return command;
}

void requireOptionsWithin(const Command& command, std::initializer_list<std::string_view> allowed) {
  for (const std::string& option : command.options) {
    if (std::find(allowed.begin(), allowed.end(), option) == allowed.end()) {
      throw ArchiveError(Result::kBadCommandLine, "unknown option " + option);
    }
  }
}

void requireOperandCount(const Command& command, std::size_t count) {
  if (command.operands.size() != count) {
    throw ArchiveError(Result::kBadCommandLine, "expected " + std::to_string(count) + " operand" +
                                                    (count == 1 ? "" : "s") + ", got " +
                                                    std::to_string(command.operands.size()));
  }
}

}  // namespace archivers
