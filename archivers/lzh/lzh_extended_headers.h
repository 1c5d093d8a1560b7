#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "lzh/lzh_names.h"

namespace archivers::lzh {

// What the extended headers of one member say.
struct ExtendedFields {
  StoredName name;
  std::optional<std::uint16_t> headerCrc;  // 0x00: CRC-16 of the whole header, field zeroed
  std::size_t headerCrcOffset = 0;         // where that field sits in the raw header
  std::optional<std::uint16_t> dosAttributes;
  std::optional<std::int64_t> windowsMtime;
  std::optional<std::int64_t> unixMtime;
  std::optional<std::uint32_t> unixMode;
  std::optional<std::uint64_t> compressedSize;  // 0x42: 64-bit sizes of members over 4 GiB
  std::optional<std::uint64_t> originalSize;
};

// Walks the chain of extended headers in a raw header. offset is where the first size field
// sits; fieldSize is 2 (levels 1 and 2) or 4 (level 3). Each header's size counts its type byte,
// its data and the size field of the next one. Throws ArchiveError(kCorrupt) for a size that does
// not fit.
void walkExtendedHeaders(const std::vector<std::uint8_t>& raw, std::size_t offset,
                         std::size_t fieldSize, ExtendedFields& fields);

}  // namespace archivers::lzh
