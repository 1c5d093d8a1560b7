#include "libarchive/entry_data_copy.h"

#include <archive.h>
#include <archive_entry.h>

namespace archivers {

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
    output.skip(static_cast<std::uint64_t>(offset) - position);
    output.write(block, size);
    position = static_cast<std::uint64_t>(offset) + size;
  }
  // A member may end in a hole no data block covers (sparse TAR members), or a ZIP directory may
  // state more than the data holds while libarchive finds nothing wrong: both end in a hole up
  // to the stated size.
  if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0) {
    const auto size = static_cast<std::uint64_t>(archive_entry_size(entry));
    if (size > position) output.skip(size - position);
  }
}

}  // namespace archivers
