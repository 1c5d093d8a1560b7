#pragma once

#include "arj/arj_extractor.h"
#include "cab/cabinet_extraction.h"
#include "common/extraction_driver.h"
#include "libarchive/libarchive_extraction.h"
#include "lzh/lzh_extractor.h"
#include "zip/zip_extraction.h"

namespace archivers {

// Every reader in the one shape. Each library's entry point hands the driver its own; the fuzz
// targets and the tests that hold all formats to one policy take them from here.
inline constexpr FormatReader kFormatReaders[] = {
    zip::kReader, kTarReader, cab::kReader, lzh::kReader, arj::kReader,
};

}  // namespace archivers
