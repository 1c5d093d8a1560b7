#pragma once

#include "job/archivers/archiver_binding.h"
#include "job/job_context.h"
#include "platform/platform.h"

namespace parvo {

// Extracts the archive into a desktop folder named after it, choosing the archiver by the
// last four characters of the path; any other extension is answered with a message.
JobOutcome ExtractArchive(Platform& platform, ArchiverBinding& binding, JobContext& context);

}  // namespace parvo
