#include "libarchive/entry_data_copy.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <array>

namespace archivers {

namespace {

// Holes cost the archive nothing but are written out in full here: a hole larger than the free
// space is refused at once instead of filling the disk first.
void requireRoomForZeros(std::uint64_t count, const ExtractionTarget& target) {
  constexpr std::uint64_t kCheckFrom = 16 << 20;
  struct statvfs space {};
  if (count < kCheckFrom || ::statvfs(target.destination.c_str(), &space) != 0) return;
  if (count / space.f_frsize >= space.f_bavail) {
    throw ArchiveError(Result::kWriteFailed, "no room for " + std::to_string(count) +
                                                 " bytes of zeros in " + target.memberPath);
  }
}

void writeZeros(FileOutput& output, std::uint64_t count, const ExtractionTarget& target) {
  requireRoomForZeros(count, target);
  static constexpr std::array<char, 64 * 1024> kZeros{};
  while (count > 0) {
    const std::size_t chunk =
        static_cast<std::size_t>(std::min<std::uint64_t>(count, kZeros.size()));
    output.write(kZeros.data(), chunk);
    count -= chunk;
  }
}

}  // namespace

void copyEntryData(const ArchiveReader& reader, archive_entry* entry, FileOutput& output,
                   const ExtractionTarget& target) {
  std::uint64_t position = 0;
  for (;;) {
    const void* block = nullptr;
    std::size_t size = 0;
    la_int64_t offset = 0;
    const int status = archive_read_data_block(reader.handle(), &block, &size, &offset);
    if (status == ARCHIVE_EOF) break;
    // A warning here is a checksum or length mismatch: the data cannot be trusted.
    if (status != ARCHIVE_OK) {
      throw ArchiveError(reader.errorResult(), target.memberPath + ": " + reader.errorMessage());
    }
    if (offset < 0 || static_cast<std::uint64_t>(offset) < position) {
      throw ArchiveError(Result::kCorrupt, target.memberPath + ": data blocks out of order");
    }
    writeZeros(output, static_cast<std::uint64_t>(offset) - position, target);
    output.write(block, size);
    position = static_cast<std::uint64_t>(offset) + size;
  }
  // A member may end in a hole no data block covers (sparse TAR members), or a ZIP directory may
  // state more than the data holds while libarchive finds nothing wrong: both are filled with
  // zeros up to the stated size.
  if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0) {
    const auto size = static_cast<std::uint64_t>(archive_entry_size(entry));
    if (size > position) writeZeros(output, size - position, target);
  }
}

}  // namespace archivers
