#include "cab/cabinet_layout.h"

#include <array>

#include "common/archive_error.h"
#include "common/byte_order.h"

namespace archivers::cab {
namespace {

constexpr std::size_t kHeaderBytes = 36;
constexpr unsigned kFlagPrevious = 0x0001;
constexpr unsigned kFlagNext = 0x0002;
constexpr unsigned kFlagReserve = 0x0004;

// Steps over a NUL-terminated name of at most 256 bytes.
bool skipName(InputFile& input) {
  for (int i = 0; i < 257; ++i) {
    std::uint8_t byte = 0;
    if (input.read(&byte, 1) != 1) return false;
    if (byte == 0) return true;
  }
  return false;
}

}  // namespace

std::optional<CabinetLayout> readCabinetLayout(InputFile& input, std::uint64_t base) {
  try {
    std::array<std::uint8_t, kHeaderBytes> header{};
    input.seek(base);
    if (input.read(header.data(), header.size()) != header.size()) return std::nullopt;
    if (header[0] != 'M' || header[1] != 'S' || header[2] != 'C' || header[3] != 'F') {
      return std::nullopt;
    }
    const unsigned folderCount = loadLe16(&header[26]);
    const unsigned flags = loadLe16(&header[30]);
    CabinetLayout layout;
    unsigned folderReserve = 0;
    if ((flags & kFlagReserve) != 0) {
      std::array<std::uint8_t, 4> sizes{};
      if (input.read(sizes.data(), sizes.size()) != sizes.size()) return std::nullopt;
      input.seek(input.tell() + loadLe16(&sizes[0]));
      folderReserve = sizes[2];
      layout.blockReserve = sizes[3];
    }
    for (const unsigned flag : {kFlagPrevious, kFlagNext}) {
      if ((flags & flag) != 0 && !(skipName(input) && skipName(input))) return std::nullopt;
    }
    for (unsigned i = 0; i < folderCount; ++i) {
      std::array<std::uint8_t, 8> entry{};
      if (input.read(entry.data(), entry.size()) != entry.size()) return std::nullopt;
      input.seek(input.tell() + folderReserve);
      layout.folders.push_back(
          {base + loadLe32(&entry[0]), loadLe16(&entry[4]), loadLe16(&entry[6])});
    }
    return layout;
  } catch (const ArchiveError& error) {
    if (error.result() == Result::kCancelled) throw;
    return std::nullopt;  // a seek past the end
  }
}

}  // namespace archivers::cab
