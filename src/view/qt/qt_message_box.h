#pragma once

#include <string>

namespace parvo {

// A modal message box with an OK button only and no icon; returns when it is closed, true, or
// when the display is lost, false.
bool showQtMessageBox(const std::wstring& text, const std::wstring& caption);

}  // namespace parvo
