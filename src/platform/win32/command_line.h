#pragma once

#include <string_view>

namespace parvo {

// The arguments part of a Windows command line, the way the C run time finds it: the program's
// name is skipped (up to the closing double quote when it starts with one, else up to the first
// blank or control character), then the blanks after it.
std::wstring_view argumentsAfterProgramName(std::wstring_view commandLine);

}  // namespace parvo
