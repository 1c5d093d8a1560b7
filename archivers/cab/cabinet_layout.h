#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/archive_input.h"

namespace archivers::cab {

// Where each folder's data blocks lie, read from the cabinet's own header.
struct FolderLayout {
  std::uint64_t dataOffset = 0;  // of the first data block, from the start of the file
  unsigned blockCount = 0;
  unsigned compression = 0;  // the header's typeCompress
};

struct CabinetLayout {
  std::vector<FolderLayout> folders;
  unsigned blockReserve = 0;  // bytes reserved in every data block header
};

// The layout of the cabinet that starts at base in input, or nothing when the header does not
// read as one.
std::optional<CabinetLayout> readCabinetLayout(ArchiveInput& input, std::uint64_t base);

}  // namespace archivers::cab
