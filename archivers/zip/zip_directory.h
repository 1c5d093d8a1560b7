#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/archive_input.h"

namespace archivers::zip {

// One member as the central directory describes it, offsets already moved past any prefix.
struct ZipMember {
  std::string storedName;  // the name's bytes as stored, to hold the local header against
  std::string name;        // decoded to UTF-8
  std::optional<std::string> unicodeField;  // the Unicode path field as stored, if any
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t crc = 0;
  std::uint32_t storedCompressedSize = 0;  // the 32-bit fields, placeholders included
  std::uint32_t storedSize = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t size = 0;
  std::uint64_t localHeaderOffset = 0;
  std::optional<std::int64_t> mtime;
  // Where mtime comes from, best last: a local header may hold a better field than the directory.
  enum class TimeSource { kDos, kUnixField, kNtfsField } timeSource = TimeSource::kDos;
  std::uint32_t mode = 0;  // Unix type and permission bits as the attributes give them, or 0
};

enum ZipMethod : std::uint16_t { kStored = 0, kDeflated = 8, kDeflate64 = 9 };
inline constexpr std::uint16_t kFlagDataDescriptor = 1 << 3;

struct ZipDirectory {
  std::vector<ZipMember> members;
  std::uint64_t start = 0;  // where the central directory begins: no member data reaches past it
  // What the end record counts, when that is not the number of entries the directory holds.
  std::optional<std::uint64_t> statedEntries;
};

// The archive's central directory, when every member is one this reader extracts itself: stored,
// deflated or Deflate64, not encrypted, on one disk. Nothing when the directory cannot be found or
// read, or a member needs another method or a password: such an archive is read by the general
// reader.
std::optional<ZipDirectory> readZipDirectory(ArchiveInput& input);

}  // namespace archivers::zip
