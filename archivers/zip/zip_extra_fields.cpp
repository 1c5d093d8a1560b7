#include "zip/zip_extra_fields.h"

#include <isa-l/crc.h>

#include <algorithm>

#include "common/byte_order.h"
#include "common/utf8.h"

namespace archivers::zip {

namespace {

enum FieldId : std::uint16_t {
  kZip64 = 0x0001,
  kNtfs = 0x000a,
  kExtendedTimestamp = 0x5455,
  kOldUnix = 0x5855,
  kUnicodePath = 0x7075,
};

const std::uint8_t* bytesOf(std::string_view text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

bool readZip64(std::string_view data, Zip64Placeholders placeholders, ExtraFields& fields) {
  std::size_t at = 0;
  const auto next = [&](bool wanted, std::optional<std::uint64_t>& value) {
    if (!wanted) return true;
    if (at + 8 > data.size()) return false;
    value = loadLe64(bytesOf(data) + at);
    at += 8;
    return true;
  };
  return next(placeholders.size, fields.size) &&
         next(placeholders.compressedSize, fields.compressedSize) &&
         next(placeholders.localHeaderOffset, fields.localHeaderOffset);
}

// The NTFS field: four reserved bytes, then attributes as tag, size and data; tag 1 holds the
// modification, access and creation times in 100 ns since 1601. A time of 0 is unset.
std::optional<std::int64_t> ntfsModificationTime(std::string_view data) {
  constexpr std::uint64_t kTicksPerSecond = 10'000'000;
  constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;
  for (std::size_t at = 4; at + 4 <= data.size();) {
    const std::uint16_t tag = loadLe16(bytesOf(data) + at);
    const std::uint16_t size = loadLe16(bytesOf(data) + at + 2);
    at += 4;
    if (size > data.size() - at) break;
    if (tag == 1 && size >= 24) {
      const std::uint64_t ticks = loadLe64(bytesOf(data) + at);
      if (ticks == 0) return std::nullopt;
      return static_cast<std::int64_t>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970;
    }
    at += size;
  }
  return std::nullopt;
}

}  // namespace

std::optional<ExtraFields> parseExtraFields(std::string_view extra, std::string_view storedName,
                                            Zip64Placeholders placeholders) {
  ExtraFields fields;
  bool zip64Seen = false;
  // Writers pad with fewer than four zero bytes now and then; they hold no field.
  while (extra.size() >= 4) {
    const std::uint16_t id = loadLe16(bytesOf(extra));
    const std::uint16_t length = loadLe16(bytesOf(extra) + 2);
    if (4u + length > extra.size()) return std::nullopt;
    const std::string_view data = extra.substr(4, length);
    const std::uint8_t* bytes = bytesOf(data);
    switch (id) {
      case kZip64:
        if (!readZip64(data, placeholders, fields)) return std::nullopt;
        zip64Seen = true;
        break;
      case kNtfs:
        if (std::optional<std::int64_t> mtime = ntfsModificationTime(data))
          fields.ntfsMtime = mtime;
        break;
      case kExtendedTimestamp:
        // Unsigned, as the general reader takes it: times run to 2106 rather than back to 1901.
        if (length >= 5 && (bytes[0] & 1) != 0) fields.unixMtime = loadLe32(bytes + 1);
        break;
      case kOldUnix:
        if (length >= 8) fields.unixMtime = loadLe32(bytes + 4);
        break;
      case kUnicodePath:
        fields.unicodeField = std::string(data);
        if (length >= 5 &&
            loadLe32(bytes + 1) == crc32_gzip_refl(0, bytesOf(storedName), storedName.size()) &&
            isValidUtf8(data.substr(5))) {
          fields.unicodeName = std::string(data.substr(5));
        }
        break;
      default:
        break;
    }
    extra.remove_prefix(4u + length);
  }
  if (!std::all_of(extra.begin(), extra.end(), [](char c) { return c == 0; })) return std::nullopt;
  const bool zip64Needed =
      placeholders.size || placeholders.compressedSize || placeholders.localHeaderOffset;
  if (zip64Needed && !zip64Seen) return std::nullopt;
  return fields;
}

}  // namespace archivers::zip
