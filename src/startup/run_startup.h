#pragma once

#include "platform/platform.h"

namespace parvo {

// The program's entry: with arguments, one job per path in order; without, the settings dialog.
// Run-time errors are not handled here.
void RunStartup(Platform& platform);

// Runs the program and handles what no routine does: a run-time error is shown with its number
// and description and ends the run. Returns the process exit status (1 after an error).
int RunProgram(Platform& platform);

}  // namespace parvo
