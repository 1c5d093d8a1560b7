#include "arj/arj_header.h"

#include <array>
#include <cstring>
#include <vector>

#include "common/archive_error.h"
#include "common/byte_order.h"
#include "common/crc.h"

namespace archivers::arj {

namespace {

constexpr std::uint8_t kIdLow = 0x60;
constexpr std::uint8_t kIdHigh = 0xEA;
constexpr std::size_t kMaxBasicHeader = 2600;
constexpr std::size_t kFixedFields = 30;  // first_hdr_size up to the host data

bool crcMatches(const std::vector<std::uint8_t>& basic, const std::uint8_t* stored) {
  return crc32(0, basic.data(), basic.size()) == loadLe32(stored);
}

// Decodes the basic header's fields; nothing when they do not fit together.
std::optional<Header> parseBasicHeader(const std::vector<std::uint8_t>& basic) {
  if (basic.size() < kFixedFields) return std::nullopt;
  const std::size_t firstSize = basic[0];
  if (firstSize < kFixedFields || firstSize > basic.size()) return std::nullopt;
  const auto* nameStart = basic.data() + firstSize;
  const auto* nameEnd =
      static_cast<const std::uint8_t*>(std::memchr(nameStart, 0, basic.size() - firstSize));
  if (nameEnd == nullptr) return std::nullopt;

  Header header;
  header.hostOs = basic[3];
  header.flags = basic[4];
  header.method = basic[5];
  header.fileType = basic[6];
  header.timestamp = loadLe32(&basic[8]);
  header.compressedSize = loadLe32(&basic[12]);
  header.originalSize = loadLe32(&basic[16]);
  header.fileCrc = loadLe32(&basic[20]);
  header.accessMode = loadLe16(&basic[26]);
  header.name.assign(reinterpret_cast<const char*>(nameStart), nameEnd - nameStart);
  return header;
}

// Extended headers follow the basic header, each a size, its bytes and their CRC, until a size of
// zero; none is in use, so they are skipped.
void skipExtendedHeaders(InputFile& file) {
  std::array<std::uint8_t, 2> size{};
  for (;;) {
    file.readExact(size.data(), size.size());
    const std::uint16_t length = loadLe16(size.data());
    if (length == 0) return;
    file.seek(file.tell() + length + 4);
  }
}

std::optional<Header> tryMainHeaderAt(InputFile& file, std::uint64_t position) {
  const std::uint64_t end = file.size();
  if (end - position < 4) return std::nullopt;
  std::array<std::uint8_t, 4> prefix{};
  file.seek(position);
  file.readExact(prefix.data(), prefix.size());
  const std::size_t size = loadLe16(prefix.data() + 2);
  if (size < kFixedFields || size > kMaxBasicHeader || end - position < 4 + size + 4) {
    return std::nullopt;
  }
  const std::vector<std::uint8_t> basic = file.readBytes(size);
  std::array<std::uint8_t, 4> storedCrc{};
  file.readExact(storedCrc.data(), storedCrc.size());
  if (!crcMatches(basic, storedCrc.data())) return std::nullopt;
  std::optional<Header> header = parseBasicHeader(basic);
  // A local header is no main header, even when the real one is damaged.
  if (!header || header->fileType != file_types::kMainHeader) return std::nullopt;
  try {
    skipExtendedHeaders(file);
  } catch (const ArchiveError& error) {
    if (error.result() == Result::kCancelled) throw;
    return std::nullopt;
  }
  header->dataOffset = file.tell();
  return header;
}

}  // namespace

Header readMainHeader(InputFile& file) {
  constexpr std::size_t kChunk = 64 * 1024;
  std::vector<std::uint8_t> chunk(kChunk + 1);
  const std::uint64_t end = file.size();
  // Chunks overlap by one byte so that an id split across two of them is still seen.
  for (std::uint64_t chunkStart = 0; chunkStart + 1 < end; chunkStart += kChunk) {
    file.seek(chunkStart);
    const std::size_t filled = file.read(chunk.data(), chunk.size());
    for (std::size_t i = 0; i + 1 < filled; ++i) {
      if (chunk[i] != kIdLow || chunk[i + 1] != kIdHigh) continue;
      if (std::optional<Header> header = tryMainHeaderAt(file, chunkStart + i)) return *header;
    }
  }
  throw ArchiveError(Result::kCannotOpen, "not an ARJ archive");
}

std::optional<Header> readLocalHeader(InputFile& file) {
  std::array<std::uint8_t, 4> prefix{};
  file.readExact(prefix.data(), prefix.size());
  if (prefix[0] != kIdLow || prefix[1] != kIdHigh) {
    throw ArchiveError(Result::kCorrupt, "damaged archive: header expected");
  }
  const std::size_t size = loadLe16(prefix.data() + 2);
  if (size == 0) return std::nullopt;
  if (size > kMaxBasicHeader) throw ArchiveError(Result::kCorrupt, "damaged archive: bad header");
  const std::vector<std::uint8_t> basic = file.readBytes(size);
  std::array<std::uint8_t, 4> storedCrc{};
  file.readExact(storedCrc.data(), storedCrc.size());
  if (!crcMatches(basic, storedCrc.data())) {
    throw ArchiveError(Result::kCorrupt, "damaged archive: header checksum mismatch");
  }
  std::optional<Header> header = parseBasicHeader(basic);
  if (!header) throw ArchiveError(Result::kCorrupt, "damaged archive: bad header");
  skipExtendedHeaders(file);
  header->dataOffset = file.tell();
  return header;
}

}  // namespace archivers::arj
