#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/input_file.h"

namespace archivers::lzh {

// One member header as stored, with its name already decoded.
struct MemberHeader {
  std::string method;  // five characters, e.g. "-lh5-"
  std::uint64_t compressedSize = 0;
  std::uint64_t originalSize = 0;
  std::uint16_t crc = 0;
  int level = 0;
  std::uint8_t osId = 0;
  std::uint8_t dosAttributes = 0;
  std::optional<std::int64_t> mtime;      // seconds since the epoch, UTC
  std::optional<std::uint32_t> unixMode;  // st_mode as stored, type bits included
  bool hasName = false;                   // a file name (not only a folder) was stored
  std::string path;                       // UTF-8, '/' separated
  std::string linkTarget;                 // set for a Unix symbolic link
  std::uint64_t dataOffset = 0;           // where the compressed data begins

  bool isDirectory() const { return method == "-lhd-" && linkTarget.empty(); }
  bool isSymlink() const { return !linkTarget.empty(); }
};

// Reads the member header at the current position and leaves the file at its data. Returns
// nothing at the end of the archive: the end marker (a zero byte), the end of the file, or padding
// too short for a header (zero bytes and 0x1A). Throws
// ArchiveError(kCorrupt) for a header that is damaged: no method id, bad checksum or CRC, lengths
// that do not fit, a truncated header. Sizes come from the 64-bit extended header where present.
std::optional<MemberHeader> readMemberHeader(archivers::InputFile& input);

// Where the first member header starts: 0 for a plain archive, later for a self-extracting
// program or junk in front. Throws ArchiveError(kCannotOpen) when no header is found.
std::uint64_t findFirstHeader(archivers::InputFile& input);

// Searches the bytes after a damaged header for the next member header. A candidate needs a method
// id LZH writers use (-lh?-, -lz?-, -pm?-) and must read cleanly, its checksum or header CRC
// included, with its data inside the file. The trial reads of one scan object share a budget, so
// that input full of look-alikes costs time in proportion to its size; once it is spent nothing
// more is found.
class HeaderScan {
 public:
  std::optional<std::uint64_t> findNext(archivers::InputFile& input, std::uint64_t from);

 private:
  friend std::uint64_t findFirstHeader(archivers::InputFile& input);
  std::optional<std::uint64_t> find(archivers::InputFile& input, std::uint64_t from,
                                    std::uint64_t limit,
                                    bool (*plausibleMethod)(const std::uint8_t*));
  bool readsCleanly(archivers::InputFile& input, std::uint64_t position);

  std::uint64_t parseBudget_ = std::uint64_t{64} << 20;  // bytes all trial reads may consume
};

}  // namespace archivers::lzh
