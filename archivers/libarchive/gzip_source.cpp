#include "libarchive/gzip_source.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "common/archive_error.h"

namespace archivers {

bool GzipSource::looksLikeGzip(ArchiveInput& input) {
  unsigned char magic[2] = {};
  return input.readAt(0, magic, sizeof magic) == 2 && magic[0] == 0x1F && magic[1] == 0x8B;
}

GzipSource::GzipSource(ArchiveInput& input)
    : input_(input),
      inflater_(IsalInflater::Wrapper::kGzip),
      compressed_(256 * 1024),
      output_(1024 * 1024) {}

GzipSource::~GzipSource() = default;

bool GzipSource::fillInput() {
  const std::size_t count = input_.readAt(position_, compressed_.data(), compressed_.size());
  position_ += count;
  inflater_.setInput(compressed_.data(), count);
  return count > 0;
}

const unsigned char* GzipSource::next(std::size_t& size) {
  size = 0;
  while (!atEnd_ && size == 0) {
    if (inflater_.inputLeft() == 0 && !fillInput()) {
      if (inMember_) throw ArchiveError(Result::kCorrupt, "gzip data is truncated");
      atEnd_ = true;
      break;
    }
    if (!inMember_ && *inflater_.nextInput() == 0) {
      atEnd_ = true;  // zeros after the last member pad the file to a block size
      break;
    }
    inMember_ = true;
    size += inflater_.inflate(output_.data(), output_.size());
    if (inflater_.finished()) {
      // Another member may follow in the input already read.
      const std::uint8_t* rest = inflater_.nextInput();
      const std::size_t left = inflater_.inputLeft();
      inflater_.reset();
      inflater_.setInput(rest, left);
      inMember_ = false;
    }
  }
  return output_.data();
}

void GzipSource::drain() {
  std::size_t size = 0;
  do {
    next(size);
  } while (size > 0);
}

}  // namespace archivers
