#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace parvo {

// Wide text to and from the system's ANSI code page, the text the archiver libraries take.
// Nothing when a character has no exact counterpart in the code page: no look-alike ("best
// fit", a fullwidth quotation mark for '"') and no default character ('?', a wildcard).
std::optional<std::string> toAnsiText(std::wstring_view text);
std::wstring fromAnsiText(std::string_view text);

}  // namespace parvo
