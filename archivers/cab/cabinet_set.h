#pragma once

#include <mspack.h>

#include <list>
#include <string>

#include "cab/mspack_bridge.h"

namespace archivers::cab {

// Joins the other parts of a multi-cabinet set to cabinet: the parts it names as previous and
// next, opened as siblings of the archive through the bridge. Stops at the first part that is
// missing, does not fit or was joined already; what was joined stays joined. partNames keeps the
// name of each joined part alive for libmspack.
void joinSetParts(mscab_decompressor* decompressor, MspackBridge& bridge, mscabd_cabinet* cabinet,
                  std::list<std::string>& partNames);

// The first and last cabinets of the set cabinet belongs to (itself when it stands alone).
const mscabd_cabinet& firstOfSet(const mscabd_cabinet& cabinet);
const mscabd_cabinet& lastOfSet(const mscabd_cabinet& cabinet);

}  // namespace archivers::cab
