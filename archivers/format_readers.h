#pragma once

#include <string_view>

#include "arj/arj_extractor.h"
#include "cab/cabinet_extraction.h"
#include "common/archive_input.h"
#include "lzh/lzh_extractor.h"
#include "zip/zip_extraction.h"

namespace archivers {

// Every reader in the one shape, by the format it reads.
struct FormatReader {
  std::string_view format;
  ReadArchive read;
};

inline constexpr FormatReader kFormatReaders[] = {
    {"zip", zip::readZipArchive},
    {"lzh", lzh::readLzhArchive},
    {"arj", arj::readArjArchive},
    {"cab", cab::readCabinet},
};

}  // namespace archivers
