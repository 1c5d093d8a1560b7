#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/entry_point.h"
#include "common/folder_walk.h"
#include "common/progress.h"

namespace archivers::lzh {

// Packs every entry below the current folder (only its own files unless recursive) into an LZH
// archive at destination, with level-2 headers: files as -lh5-, or -lh0- where compressing would
// not make them smaller; folders, empty ones included, as -lhd- entries. Links to files inside
// the folder are stored as what they point to; what the walk leaves out (see FolderWalk) and
// names holding '\' or byte 0xFF are left out and named, with the result kLeftOut. The archive
// appears under its name only when complete. Throws ArchiveError: kCannotOpen (a file or folder
// cannot be read, naming it), kUnsupported (a path too long for a header), kWriteFailed,
// kCancelled once the call is stopped.
Outcome writeArchive(const std::string& destination, bool recursive, FollowedCall& call);

// How an archive's names are stored: in CP932, or all of them in UTF-8 once one name needs it.
enum class NameEncoding { kCp932, kUtf8 };

// One member's level-2 header as the writer builds it: startHeader lays out the names, time and
// mode of a walk entry (throws ArchiveError(kUnsupported) when they do not fit in a header);
// finishHeader fills in the method, sizes and CRC, then the header CRC.
struct WrittenHeader {
  std::vector<std::uint8_t> bytes;
  std::size_t largeSizesAt = 0;  // where the 64-bit sizes of extended header 0x42 go, if any
};
WrittenHeader startHeader(const WalkEntry& entry, NameEncoding encoding);
void finishHeader(WrittenHeader& header, std::string_view method, std::uint64_t compressedSize,
                  std::uint64_t originalSize, std::uint16_t crc);

}  // namespace archivers::lzh
