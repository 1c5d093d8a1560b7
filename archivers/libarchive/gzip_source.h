#pragma once

#include <cstddef>
#include <vector>

#include "common/archive_input.h"
#include "common/isal_inflater.h"

namespace archivers {

// A gzip file decompressed as a stream with ISA-L, every member's CRC-32 and length checked.
// libarchive's own gzip filter skips those checks, and a TAR reader stops at the end-of-archive
// blocks before the trailer: without this, a damaged .tar.gz would extract without complaint.
class GzipSource {
 public:
  // Whether the input starts as gzip data.
  static bool looksLikeGzip(ArchiveInput& input);

  // Reads input, which must outlive this, from its start.
  explicit GzipSource(ArchiveInput& input);
  GzipSource(const GzipSource&) = delete;
  GzipSource& operator=(const GzipSource&) = delete;
  ~GzipSource();

  // The next block of decompressed data, size 0 at the end. Throws ArchiveError(kCorrupt) for
  // damaged or truncated data and a checksum mismatch.
  const unsigned char* next(std::size_t& size);
  // Reads to the end of the file so that the last member's checksum is verified.
  void drain();

 private:
  bool fillInput();

  ArchiveInput& input_;
  std::uint64_t position_ = 0;
  IsalInflater inflater_;
  std::vector<unsigned char> compressed_;
  std::vector<unsigned char> output_;
  bool inMember_ = false;
  bool atEnd_ = false;
};

}  // namespace archivers
