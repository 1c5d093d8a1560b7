#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace archivers {

// A command line split into tokens: blanks and tabs separate, a double quote toggles grouping and
// is removed. Tokens that begin with '-' are options; the others are operands. Order is kept
// within each list.
struct Command {
  std::vector<std::string> options;
  std::vector<std::string> operands;

  bool hasOption(std::string_view option) const;
};

// Throws ArchiveError(kBadCommandLine) for an unbalanced quote.
Command parseCommand(std::string_view line);

// Each throws ArchiveError(kBadCommandLine) with a message naming what is wrong.
void requireOptionsWithin(const Command& command, std::initializer_list<std::string_view> allowed);
void requireOperandCount(const Command& command, std::size_t count);

}  // namespace archivers
