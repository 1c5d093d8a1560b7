#pragma once

#include "job/job_context.h"
#include "platform/platform.h"

namespace parvo {

// Packs the folder into an archive on the desktop in the preferred format.
void CompressFolder(Platform& platform, JobContext& context);

}  // namespace parvo
