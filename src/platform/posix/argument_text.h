#pragma once

#include <string>
#include <vector>

namespace parvo {

// "/a/./b/../c//" -> "/a/c": absolute against currentDirectory, with "." and ".." resolved
// lexically (links are not followed) and no repeated or trailing separator.
std::string normalisePath(const std::string& path, const std::string& currentDirectory);

// The argument text of a POSIX run: the elements joined by single blanks, empty ones left out.
// An element that holds more than blanks and tabs is normalised and wrapped in double quotes
// when it contains a blank or a tab. Raises 52 (bad file name) for a name holding a double
// quote, which the argument text cannot carry.
std::wstring argumentTextFrom(const std::vector<std::string>& arguments,
                              const std::string& currentDirectory);

}  // namespace parvo
