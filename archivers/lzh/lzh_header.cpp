#include "lzh/lzh_header.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>
#include <vector>

#include "common/archive_error.h"
#include "common/byte_order.h"
#include "common/crc.h"
#include "common/dos_time.h"
#include "lzh/lzh_extended_headers.h"

namespace archivers::lzh {
namespace {

constexpr std::size_t kCommonPrefix = 22;         // bytes every header level has, level byte at 20
constexpr std::size_t kLevel0MinSize = 22;        // header size field of a level-0 header, no name
constexpr std::size_t kLevel1MinSize = 25;        // the same for level 1
constexpr std::size_t kLevel2BaseSize = 26;       // fixed part of a level-2 header
constexpr std::size_t kLevel3BaseSize = 32;       // fixed part of a level-3 header
constexpr std::size_t kMaxHeaderBytes = 1 << 20;  // bounds memory for level 1 and 3 chains
constexpr std::uint64_t kSearchLimit = 1 << 20;   // how far a self-extracting stub may reach

[[noreturn]] void damaged(const std::string& what) {
  throw ArchiveError(Result::kCorrupt, "damaged member header: " + what);
}

bool looksLikeMethod(const std::uint8_t* bytes) {
  return bytes[0] == '-' && bytes[4] == '-' &&
         std::all_of(bytes + 1, bytes + 4, [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; });
}

// A method id LZH writers actually use: -lh?-, -lz?- or -pm?-.
bool isKnownMethodFamily(const std::uint8_t* bytes) {
  const bool family = (bytes[1] == 'l' && (bytes[2] == 'h' || bytes[2] == 'z')) ||
                      (bytes[1] == 'p' && bytes[2] == 'm');
  const bool variant = (bytes[3] >= '0' && bytes[3] <= '9') || (bytes[3] >= 'a' && bytes[3] <= 'z');
  return bytes[0] == '-' && bytes[4] == '-' && family && variant;
}

void appendFromFile(InputFile& input, std::vector<std::uint8_t>& raw, std::size_t count) {
  const std::size_t old = raw.size();
  raw.resize(old + count);
  if (input.read(raw.data() + old, count) != count) damaged("the archive ends inside a header");
}

// The extended area some level-0 writers append after the CRC (Unix: type, mtime, mode, ids).
void readLevel0UnixArea(const std::uint8_t* area, std::size_t size, MemberHeader& header) {
  if (size < 12 || area[1] != 0) return;
  if (area[0] != 'U') return;  // OS-9 variants hold OS-9 permissions, not Unix ones
  header.osId = area[0];
  header.mtime = loadLe32(area + 2);
  header.unixMode = loadLe16(area + size - 6);
}

struct Parsed {
  MemberHeader header;
  ExtendedFields extended;
  std::uint64_t chainInData = 0;  // level 1 counts its extended headers in the compressed size
};

void readFixedFields(const std::vector<std::uint8_t>& raw, MemberHeader& header) {
  header.method.assign(reinterpret_cast<const char*>(raw.data()) + 2, 5);
  header.compressedSize = loadLe32(raw.data() + 7);
  header.originalSize = loadLe32(raw.data() + 11);
  header.dosAttributes = raw[19];
}

void readLevel0Or1(InputFile& input, std::vector<std::uint8_t>& raw, Parsed& parsed) {
  MemberHeader& header = parsed.header;
  const std::size_t headerSize = raw[0];
  const std::size_t minimum = header.level == 0 ? kLevel0MinSize : kLevel1MinSize;
  if (headerSize < minimum) damaged("header too short");
  appendFromFile(input, raw, headerSize + 2 - raw.size());

  unsigned sum = 0;
  for (std::size_t i = 2; i < raw.size(); ++i) sum += raw[i];
  if ((sum & 0xFF) != raw[1]) damaged("header checksum mismatch");

  readFixedFields(raw, header);
  header.mtime = dosTimeToUnix(loadLe32(raw.data() + 15));
  const std::size_t nameLength = raw[21];
  if (minimum + nameLength > headerSize) damaged("name longer than the header");
  // Amiga and MorphOS writers put the file's comment in the name field after a NUL byte.
  const std::string_view nameField(reinterpret_cast<const char*>(raw.data()) + 22, nameLength);
  parsed.extended.name.name.assign(nameField.substr(0, nameField.find('\0')));
  header.crc = loadLe16(raw.data() + 22 + nameLength);

  if (header.level == 0) {
    if (headerSize > kLevel0MinSize + nameLength && header.method.compare(0, 3, "-pm") != 0) {
      readLevel0UnixArea(raw.data() + 24 + nameLength, headerSize - kLevel0MinSize - nameLength,
                         header);
    }
    return;
  }

  header.osId = raw[24 + nameLength];
  const std::size_t chainStart = raw.size() - 2;
  // Level 1 counts its extended headers in the compressed size, as level 0 readers skip them.
  for (std::size_t next = loadLe16(raw.data() + chainStart); next != 0;
       next = loadLe16(raw.data() + raw.size() - 2)) {
    if (next < 3) damaged("extended header too short");
    if (raw.size() + next > kMaxHeaderBytes) damaged("extended headers too large");
    parsed.chainInData += next;
    appendFromFile(input, raw, next);
  }
  walkExtendedHeaders(raw, chainStart, 2, parsed.extended);
}

void readLevel2(InputFile& input, std::vector<std::uint8_t>& raw, Parsed& parsed) {
  MemberHeader& header = parsed.header;
  std::size_t headerSize = loadLe16(raw.data());
  if (headerSize < kLevel2BaseSize) damaged("header too short");
  appendFromFile(input, raw, headerSize - raw.size());
  readFixedFields(raw, header);
  header.mtime = loadLe32(raw.data() + 15);
  header.crc = loadLe16(raw.data() + 21);
  header.osId = raw[23];
  // The OS-9/68k writer stores the size without its own two bytes.
  if (header.osId == 'K') appendFromFile(input, raw, 2);
  walkExtendedHeaders(raw, 24, 2, parsed.extended);
}

void readLevel3(InputFile& input, std::vector<std::uint8_t>& raw, Parsed& parsed) {
  MemberHeader& header = parsed.header;
  if (loadLe16(raw.data()) != 4) damaged("unknown level-3 word size");
  appendFromFile(input, raw, kLevel3BaseSize - raw.size());
  const std::size_t headerSize = loadLe32(raw.data() + 24);
  if (headerSize < kLevel3BaseSize || headerSize > kMaxHeaderBytes) damaged("bad header size");
  appendFromFile(input, raw, headerSize - raw.size());
  readFixedFields(raw, header);
  header.mtime = loadLe32(raw.data() + 15);
  header.crc = loadLe16(raw.data() + 21);
  header.osId = raw[23];
  walkExtendedHeaders(raw, 28, 4, parsed.extended);
}

void checkHeaderCrc(std::vector<std::uint8_t>& raw, const ExtendedFields& extended) {
  if (!extended.headerCrc) return;
  raw[extended.headerCrcOffset] = 0;
  raw[extended.headerCrcOffset + 1] = 0;
  if (archivers::crc16(0, raw.data(), raw.size()) != *extended.headerCrc) {
    damaged("header CRC mismatch");
  }
}

void applyExtendedFields(const ExtendedFields& extended, MemberHeader& header) {
  if (extended.compressedSize) header.compressedSize = *extended.compressedSize;
  if (extended.originalSize) header.originalSize = *extended.originalSize;
  if (extended.unixMtime) header.mtime = extended.unixMtime;
  if (extended.windowsMtime) header.mtime = extended.windowsMtime;
  if (extended.unixMode) header.unixMode = extended.unixMode;
  if (extended.dosAttributes)
    header.dosAttributes = static_cast<std::uint8_t>(*extended.dosAttributes);
  // OS-9/68k stores OS-9 permissions where Unix writers store a mode.
  if (header.osId == 'K') header.unixMode.reset();
}

}  // namespace

std::optional<MemberHeader> readMemberHeader(InputFile& input) {
  std::vector<std::uint8_t> raw(kCommonPrefix);
  const std::size_t got = input.read(raw.data(), raw.size());
  if (got == 0) return std::nullopt;
  // A zero byte ends the archive. A level-2 header whose size has a zero low byte is told apart
  // by the rest of the prefix.
  const bool levelTwoWithZeroLowByte =
      got == raw.size() && raw[0] == 0 && raw[1] != 0 && raw[20] == 2 && looksLikeMethod(&raw[2]);
  if (raw[0] == 0 && !levelTwoWithZeroLowByte) return std::nullopt;
  // Padding after the last member (zero bytes, or the end-of-file byte 0x1A some writers append)
  // is no header; anything else too short for one is a header cut off.
  if (got < raw.size()) {
    if (std::all_of(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(got),
                    [](std::uint8_t byte) { return byte == 0 || byte == 0x1A; })) {
      return std::nullopt;
    }
    damaged("the archive ends inside a header");
  }
  if (!looksLikeMethod(&raw[2])) damaged("no method id where a header should start");

  Parsed parsed;
  parsed.header.level = raw[20];
  switch (parsed.header.level) {
    case 0:
    case 1:
      readLevel0Or1(input, raw, parsed);
      break;
    case 2:
      readLevel2(input, raw, parsed);
      break;
    case 3:
      readLevel3(input, raw, parsed);
      break;
    default:
      damaged("unknown header level " + std::to_string(parsed.header.level));
  }
  checkHeaderCrc(raw, parsed.extended);
  MemberHeader& header = parsed.header;
  applyExtendedFields(parsed.extended, header);
  if (parsed.chainInData > header.compressedSize)
    damaged("extended headers larger than the member");
  header.compressedSize -= parsed.chainInData;

  const bool symlink =
      header.method == "-lhd-" && header.unixMode && (*header.unixMode & 0170000) == 0120000;
  DecodedName name = decodeMemberName(parsed.extended.name, header.osId, symlink);
  header.path = std::move(name.path);
  header.linkTarget = std::move(name.linkTarget);
  header.hasName = name.hasName;
  header.dataOffset = input.tell();
  return header;
}

std::uint64_t findFirstHeader(InputFile& input) {
  std::array<std::uint8_t, kCommonPrefix> prefix{};
  input.seek(0);
  const std::size_t got = input.read(prefix.data(), prefix.size());
  if (got == 0) throw ArchiveError(Result::kCannotOpen, "the archive is empty");
  if (prefix[0] == 0 && got == 1) return 0;  // an archive with no members
  if (got == prefix.size() && looksLikeMethod(&prefix[2]) && prefix[20] <= 3) return 0;

  // A self-extracting program or other data in front: look for the first header that reads
  // cleanly.
  HeaderScan scan;
  if (std::optional<std::uint64_t> found =
          scan.find(input, 0, std::min(input.size(), kSearchLimit), looksLikeMethod)) {
    return *found;
  }
  throw ArchiveError(Result::kCannotOpen, "not an LZH archive (no member header found)");
}

std::optional<std::uint64_t> HeaderScan::find(InputFile& input, std::uint64_t from,
                                              std::uint64_t limit,
                                              bool (*plausibleMethod)(const std::uint8_t*)) {
  constexpr std::size_t kBlockSize = 64 * 1024;
  std::vector<std::uint8_t> block;
  limit = std::min(limit, input.size());
  for (std::uint64_t start = from; start + kCommonPrefix <= limit;) {
    block.resize(static_cast<std::size_t>(
        std::min<std::uint64_t>(kBlockSize + kCommonPrefix - 1, limit - start)));
    input.seek(start);
    input.readExact(block.data(), block.size());
    const std::size_t positions = block.size() - kCommonPrefix + 1;
    for (std::size_t at = 0; at < positions; ++at) {
      // The method id's leading '-' sits two bytes into every header.
      const void* dash = std::memchr(&block[at + 2], '-', positions - at);
      if (dash == nullptr) break;
      at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(dash) - block.data()) - 2;
      if (!plausibleMethod(&block[at + 2]) || block[at + 20] > 3) continue;
      if (parseBudget_ == 0) return std::nullopt;
      if (readsCleanly(input, start + at)) return start + at;
    }
    start += positions;
  }
  return std::nullopt;
}

bool HeaderScan::readsCleanly(InputFile& input, std::uint64_t position) {
  constexpr std::uint64_t kLeastCharge = 256;
  input.seek(position);
  bool clean = false;
  try {
    const std::optional<MemberHeader> header = readMemberHeader(input);
    clean = header && header->compressedSize <= input.size() - header->dataOffset;
  } catch (const ArchiveError& error) {
    if (error.result() != Result::kCorrupt) throw;
  }
  const std::uint64_t charge = std::max(kLeastCharge, input.tell() - position);
  parseBudget_ -= std::min(parseBudget_, charge);
  return clean;
}

std::optional<std::uint64_t> HeaderScan::findNext(InputFile& input, std::uint64_t from) {
  return find(input, from, input.size(), isKnownMethodFamily);
}

}  // namespace archivers::lzh
