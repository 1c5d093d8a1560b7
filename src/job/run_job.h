#pragma once

#include <string>

#include "job/archivers/archiver_binding.h"
#include "job/job_context.h"
#include "platform/platform.h"

namespace parvo {

struct PreparedJob {
  JobContext context;
  bool isFolder = false;
};

// The first half of a job: reads the preference, finds the desktop, turns the argument into
// the item's path and names, and tells a folder from a file. Raises run-time errors.
PreparedJob PrepareJob(Platform& platform, const std::wstring& argument);

// One dropped item: prepares it, then packs a folder or extracts a file. A name that leaves no
// folder name is answered with a message.
JobOutcome RunJob(Platform& platform, ArchiverBinding& binding, const std::wstring& argument);

}  // namespace parvo
