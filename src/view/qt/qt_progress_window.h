#pragma once

#include "common/progress_window.h"

namespace parvo {

// A new progress window for an archiver library's call, or null without a display.
archivers::ProgressWindow* openQtProgressWindow();

}  // namespace parvo
