#pragma once

#include "job/job_context.h"
#include "platform/platform.h"

namespace parvo {

// Extracts the archive into a desktop folder named after it, choosing the archiver by the
// last four characters of the path.
void ExtractArchive(Platform& platform, JobContext& context);

}  // namespace parvo
