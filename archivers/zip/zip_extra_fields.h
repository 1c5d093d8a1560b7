#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace archivers::zip {

// What a central directory entry's extra fields add to its fixed fields.
struct ExtraFields {
  // ZIP64: the 64-bit values of the fields stored as 0xFFFFFFFF, in the order the format keeps.
  std::optional<std::uint64_t> size;
  std::optional<std::uint64_t> compressedSize;
  std::optional<std::uint64_t> localHeaderOffset;
  // Modification times in Unix seconds: the NTFS field's (exact to 100 ns), and the extended
  // timestamp's or the old Unix field's (exact to the second).
  std::optional<std::int64_t> ntfsMtime;
  std::optional<std::int64_t> unixMtime;
  std::optional<std::string> unicodeName;   // the UTF-8 path, when it still matches the name
  std::optional<std::string> unicodeField;  // the Unicode path field as stored, matching or not
};

// Which of the entry's 32-bit fields are placeholders for ZIP64 values.
struct Zip64Placeholders {
  bool size = false;
  bool compressedSize = false;
  bool localHeaderOffset = false;
};

// Reads the fields a reader needs and skips the rest. Nothing when a field runs past the end or a
// needed ZIP64 value is missing. storedName is the entry's name as stored, which the Unicode path
// field must have been made from to count.
std::optional<ExtraFields> parseExtraFields(std::string_view extra, std::string_view storedName,
                                            Zip64Placeholders placeholders);

}  // namespace archivers::zip
