#pragma once

#include <optional>
#include <string>
#include <vector>

namespace parvo {

// What a run prints and exits on, as Linux programs do, when its one argument is --help or
// --version; nothing for any other argument list, every element of which is a path.
std::optional<std::string> standardOptionText(const std::vector<std::string>& arguments);

}  // namespace parvo
