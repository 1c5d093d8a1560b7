#pragma once

#include <mspack.h>

#include <list>
#include <string>

#include "cab/mspack_bridge.h"

namespace archivers::cab {

// Joins the other parts of a multi-cabinet set to cabinet: the parts it names as previous and
// next, looked up case-insensitively in its own folder (never elsewhere). Stops at the first part
// that is missing or does not fit; what was joined stays joined. partPaths keeps the path of each
// joined part alive for libmspack.
void joinSetParts(mscab_decompressor* decompressor, MspackBridge& bridge, mscabd_cabinet* cabinet,
                  const std::string& cabinetPath, std::list<std::string>& partPaths);

// The first and last cabinets of the set cabinet belongs to (itself when it stands alone).
const mscabd_cabinet& firstOfSet(const mscabd_cabinet& cabinet);
const mscabd_cabinet& lastOfSet(const mscabd_cabinet& cabinet);

}  // namespace archivers::cab
