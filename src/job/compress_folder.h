#pragma once

#include "job/archivers/archiver_binding.h"
#include "job/job_context.h"
#include "platform/platform.h"

namespace parvo {

// Packs the folder into an archive on the desktop in the preferred format: a cabinet, a
// self-extracting program made from a cabinet in a private temporary folder, or an LHA archive.
// The folder stays the current directory afterwards. An unknown preference is answered with a
// message.
JobOutcome CompressFolder(Platform& platform, ArchiverBinding& binding, JobContext& context);

}  // namespace parvo
