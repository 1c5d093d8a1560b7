#pragma once

namespace parvo {

// The application's title: the caption of every message box the program shows.
inline constexpr wchar_t kApplicationTitle[] = L"PARVO";

}  // namespace parvo
