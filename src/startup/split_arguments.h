#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace parvo {

// Splits the argument text into paths at runs of blanks and tabs. A double quote toggles a
// quoted state in which blanks and tabs belong to the path; the quotes stay in the path text.
std::vector<std::wstring> SplitArguments(std::wstring_view text);

}  // namespace parvo
