#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The rules for the names a reader hands the extraction sink, and how those names are shown.
namespace archivers {

// The longest name a folder entry can have on the file systems extraction writes to.
constexpr std::size_t kMaxNameBytes = 255;

// A member path split into the folders and name it is made at (empty and "." parts dropped), or
// why it must not be made: absolute, with a drive prefix, climbing with "..", holding a NUL byte,
// a part longer than a name can be, or empty. Every name and link target a reader hands the sink
// passes here.
struct MemberPath {
  std::vector<std::string> components;
  const char* refusal = nullptr;  // the reason, as the refusal message words it
};
MemberPath splitMemberPath(std::string_view path);

// The same for a member made under a name of its own (a file or a link): a path of no parts
// ("./", the destination itself) is refused as an empty name.
MemberPath splitEntryPath(std::string_view path);

// Why a link's target text must not be used at all: a NUL byte, where a system call would cut it.
// Null when it may be looked at further.
const char* linkTargetRefusal(std::string_view target);

// The components joined with '/'.
std::string joinedPath(const std::vector<std::string>& components);

// A member name for a one-line message: control characters would break it, a NUL byte is shown
// as \0. A long name is cut between characters.
std::string printable(std::string_view text);

// Calls visit with each part of a '/'-separated path, empty and "." parts left out, while it
// returns true.
template <typename Visit>
void forEachPart(std::string_view path, Visit visit) {
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(start, end - start);
    start = end + 1;
    if (!part.empty() && part != "." && !visit(part)) return;
  }
}

}  // namespace archivers
