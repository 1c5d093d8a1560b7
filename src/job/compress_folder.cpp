#include "job/compress_folder.h"

namespace parvo {

// Packing folders arrives with the archivers' writing side; until then a dropped folder is
// prepared and left as it is.
JobOutcome CompressFolder(Platform&, ArchiverBinding&, JobContext&) {
  return JobOutcome::kCompleted;
}

}  // namespace parvo
