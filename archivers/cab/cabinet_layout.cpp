#include "cab/cabinet_layout.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "common/archive_error.h"
#include "common/byte_order.h"

namespace archivers::cab {
namespace {

constexpr std::size_t kHeaderBytes = 36;
constexpr std::size_t kNameBytes = 257;  // at most 256 and the NUL
constexpr unsigned kFlagPrevious = 0x0001;
constexpr unsigned kFlagNext = 0x0002;
constexpr unsigned kFlagReserve = 0x0004;

}  // namespace

std::optional<CabinetLayout> readCabinetLayout(ArchiveInput& input, std::uint64_t base) {
  try {
    std::array<std::uint8_t, kHeaderBytes + 4> header{};
    const std::size_t got = input.readAt(base, header.data(), header.size());
    if (got < kHeaderBytes || header[0] != 'M' || header[1] != 'S' || header[2] != 'C' ||
        header[3] != 'F') {
      return std::nullopt;
    }
    const unsigned folderCount = loadLe16(&header[26]);
    const unsigned flags = loadLe16(&header[30]);
    CabinetLayout layout;
    std::uint64_t position = base + kHeaderBytes;
    unsigned folderReserve = 0;
    if ((flags & kFlagReserve) != 0) {
      if (got < header.size()) return std::nullopt;
      position += 4 + loadLe16(&header[36]);
      folderReserve = header[38];
      layout.blockReserve = header[39];
    }
    // The previous and the next cabinet's names, then their disks' names.
    const int names = ((flags & kFlagPrevious) != 0 ? 2 : 0) + ((flags & kFlagNext) != 0 ? 2 : 0);
    if (names > 0) {
      std::array<std::uint8_t, 4 * kNameBytes> text{};
      const std::size_t textSize = input.readAt(position, text.data(), text.size());
      std::size_t end = 0;
      for (int i = 0; i < names; ++i) {
        const void* nul = std::memchr(&text[end], 0, std::min(kNameBytes, textSize - end));
        if (nul == nullptr) return std::nullopt;
        end = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - text.data()) + 1;
      }
      position += end;
    }
    const std::size_t entryBytes = 8 + folderReserve;
    // A count the cabinet cannot hold is refused before anything is allocated for it.
    if (position > input.size() || folderCount * entryBytes > input.size() - position) {
      return std::nullopt;
    }
    std::vector<std::uint8_t> entries(folderCount * entryBytes);
    if (input.readAt(position, entries.data(), entries.size()) != entries.size()) {
      return std::nullopt;
    }
    for (std::size_t at = 0; at < entries.size(); at += entryBytes) {
      layout.folders.push_back(
          {base + loadLe32(&entries[at]), loadLe16(&entries[at + 4]), loadLe16(&entries[at + 6])});
    }
    return layout;
  } catch (const ArchiveError& error) {
    if (error.result() == Result::kCancelled) throw;
    return std::nullopt;
  }
}

}  // namespace archivers::cab
