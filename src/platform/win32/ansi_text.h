#pragma once

#include <string>
#include <string_view>

namespace parvo {

// Wide text to and from the system's ANSI code page, the text the archiver libraries take.
// Characters the code page lacks become its default character.
std::string toAnsiText(std::wstring_view text);
std::wstring fromAnsiText(std::string_view text);

}  // namespace parvo
