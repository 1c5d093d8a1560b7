#pragma once

#include "platform/platform.h"

namespace parvo {

// The program's entry: with arguments, one job per path in order; without, the settings dialog.
// Run-time errors are not handled here. True when every job ended with its output, false when
// any ended with a message instead.
bool RunStartup(Platform& platform);

// Process exit statuses, so scripts and file managers can tell how a run went.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitRunTimeError = 1;
inline constexpr int kExitJobFailed = 2;

// Runs the program and handles what no routine does: a run-time error is shown with its number
// and description and ends the run. Returns the process exit status.
int RunProgram(Platform& platform);

}  // namespace parvo
