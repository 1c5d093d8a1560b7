#pragma once

#include "common/progress_window.h"

namespace parvo {

// Starts the module's one application object, unless it is running; false without a display.
bool startQtApplication();

bool qtApplicationRunning();
// Ends the application object; Qt cannot end it from the exit handlers.
void stopQtApplication();

// A new progress window for an archiver library's call, or null without a display.
archivers::ProgressWindow* openQtProgressWindow();

}  // namespace parvo
