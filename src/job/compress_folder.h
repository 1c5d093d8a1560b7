#pragma once

#include "job/archivers/archiver_binding.h"
#include "job/job_context.h"
#include "platform/platform.h"

namespace parvo {

// Packs the folder into an archive on the desktop in the preferred format.
JobOutcome CompressFolder(Platform& platform, ArchiverBinding& binding, JobContext& context);

}  // namespace parvo
