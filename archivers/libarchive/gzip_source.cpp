#include "libarchive/gzip_source.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "common/archive_error.h"

namespace archivers {

bool GzipSource::looksLikeGzip(int fd) {
  unsigned char magic[2] = {};
  return ::pread(fd, magic, sizeof magic, 0) == 2 && magic[0] == 0x1F && magic[1] == 0x8B;
}

GzipSource::GzipSource(int fd)
    : fd_(fd), inflater_(IsalInflater::Wrapper::kGzip), input_(256 * 1024), output_(1024 * 1024) {}

GzipSource::~GzipSource() = default;

bool GzipSource::fillInput() {
  for (;;) {
    const ssize_t count = ::read(fd_, input_.data(), input_.size());
    if (count < 0 && errno == EINTR) continue;
    if (count < 0)
      throw ArchiveError(Result::kCorrupt, std::string("read error: ") + std::strerror(errno));
    inflater_.setInput(input_.data(), static_cast<std::size_t>(count));
    return count > 0;
  }
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
