#pragma once

#include <strings.h>

#include <string>
#include <vector>

#include "cab/sfx_stub/sfx_trailer.h"
#include "common/progress.h"

namespace archivers::cab {

// NAME for a cabinet path ending in NAME.cab (any case), else its whole last component: the
// program made from it is NAME.run.
inline std::string selfExtractorStem(const std::string& cabinetPath) {
  const std::size_t slash = cabinetPath.rfind('/');
  std::string leaf = slash == std::string::npos ? cabinetPath : cabinetPath.substr(slash + 1);
  if (leaf.size() > 4 && strcasecmp(leaf.c_str() + leaf.size() - 4, ".cab") == 0) {
    leaf.resize(leaf.size() - 4);
  }
  return leaf;
}

// Writes destinationFolder/NAME.run for the cabinet NAME.cab: a statically linked Linux program
// (this build's architecture) followed by the cabinet, the empty folders and a trailer locating
// them (sfx_stub/sfx_trailer.h). Run, the program extracts the cabinet and makes the folders in a
// folder NAME beside itself (see sfx_stub/sfx_main.cpp). The program appears complete and
// executable or not at all; one already there is replaced only then. Returns the summary line;
// throws ArchiveError: kCannotOpen (the cabinet cannot be read or is not a cabinet), kWriteFailed.
std::string writeSelfExtractor(const std::string& cabinetPath, const std::string& destinationFolder,
                               FollowedCall& call, const std::vector<SfxFolder>& emptyFolders = {});

}  // namespace archivers::cab
