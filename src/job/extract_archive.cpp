#include "job/extract_archive.h"

namespace parvo {

void ExtractArchive(Platform&, JobContext&) {}

}  // namespace parvo
