#include "lzh/lzh_extended_headers.h"

#include <string>

#include "common/archive_error.h"
#include "common/byte_order.h"

namespace archivers::lzh {
namespace {

constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;

std::string asText(const std::uint8_t* data, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

void decodeOne(std::uint8_t type, const std::uint8_t* data, std::size_t size,
               std::size_t offsetInRaw, ExtendedFields& fields) {
  switch (type) {
    case 0x00:
      if (size >= 2) {
        fields.headerCrc = loadLe16(data);
        fields.headerCrcOffset = offsetInRaw;
      }
      break;
    case 0x01:
      fields.name.name = asText(data, size);
      fields.name.nameFromExtendedHeader = true;
      break;
    case 0x02:
      fields.name.directory = asText(data, size);
      break;
    case 0x40:
      if (size >= 2) fields.dosAttributes = loadLe16(data);
      break;
    case 0x41:
      if (size >= 16) {
        // FILETIME: 100 ns ticks since 1601; creation time first, then modification.
        const std::uint64_t ticks = loadLe64(data + 8);
        if (ticks != 0) {
          fields.windowsMtime =
              static_cast<std::int64_t>(ticks / 10'000'000) - kSecondsFrom1601To1970;
        }
      }
      break;
    case 0x42:
      if (size >= 16) {
        fields.compressedSize = loadLe64(data);
        fields.originalSize = loadLe64(data + 8);
      }
      break;
    case 0x44:
      fields.name.utf16Name = asText(data, size);
      break;
    case 0x45:
      fields.name.utf16Directory = asText(data, size);
      break;
    case 0x50:
      if (size >= 2) fields.unixMode = loadLe16(data);
      break;
    case 0x54:
      if (size >= 4) fields.unixMtime = loadLe32(data);
      break;
    default:
      break;  // comments (0x3F), owners, OS-9 and other system data are not needed here
  }
}

}  // namespace

void walkExtendedHeaders(const std::vector<std::uint8_t>& raw, std::size_t offset,
                         std::size_t fieldSize, ExtendedFields& fields) {
  while (offset + fieldSize <= raw.size()) {
    const std::uint64_t size =
        fieldSize == 4 ? loadLe32(raw.data() + offset) : loadLe16(raw.data() + offset);
    if (size == 0) return;
    const std::size_t start = offset + fieldSize;
    if (size < fieldSize + 1 || size > raw.size() - start) {
      throw ArchiveError(Result::kCorrupt, "damaged extended header in the archive");
    }
    const std::size_t dataSize = static_cast<std::size_t>(size) - fieldSize - 1;
    decodeOne(raw[start], raw.data() + start + 1, dataSize, start + 1, fields);
    offset += static_cast<std::size_t>(size);
  }
}

}  // namespace archivers::lzh
