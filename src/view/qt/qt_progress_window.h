#pragma once

#include "common/progress_window.h"

namespace parvo {

// Starts the module's one application object, unless it is running; false without a display.
bool startQtApplication();

// A new progress window for an archiver library's call, or null without a display.
archivers::ProgressWindow* openQtProgressWindow();

}  // namespace parvo
