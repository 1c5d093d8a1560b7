#pragma once

#include <cstddef>
#include <vector>

#include "common/isal_inflater.h"

namespace archivers {

// A gzip file decompressed as a stream with ISA-L, every member's CRC-32 and length checked.
// libarchive's own gzip filter skips those checks, and a TAR reader stops at the end-of-archive
// blocks before the trailer: without this, a damaged .tar.gz would extract without complaint.
class GzipSource {
 public:
  // Whether the file fd reads starts as gzip data; its position is left as it was.
  static bool looksLikeGzip(int fd);

  // Reads fd, which stays open and owned by the caller, from its position on.
  explicit GzipSource(int fd);
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

  int fd_ = -1;
  IsalInflater inflater_;
  std::vector<unsigned char> input_;
  std::vector<unsigned char> output_;
  bool inMember_ = false;
  bool atEnd_ = false;
};

}  // namespace archivers
