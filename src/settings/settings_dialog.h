#pragma once

#include "platform/platform.h"

namespace parvo {

// Shows Form1: the load step selects the stored format and centres the window, then the window
// runs until OK stores the selected format and closes it, or the user closes it otherwise and
// nothing is stored. A run-time error inside the dialog closes it and is raised from here.
void ShowForm1(Platform& platform);

}  // namespace parvo
