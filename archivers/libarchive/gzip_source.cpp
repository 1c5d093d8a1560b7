#include "libarchive/gzip_source.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "common/archive_error.h"

namespace archivers {

namespace {

constexpr int kGzipWindowBits = 16 + MAX_WBITS;  // gzip wrapper only, checked trailer

}  // namespace

bool GzipSource::looksLikeGzip(int fd) {
  unsigned char magic[2] = {};
  return ::pread(fd, magic, sizeof magic, 0) == 2 && magic[0] == 0x1F && magic[1] == 0x8B;
}

GzipSource::GzipSource(int fd) : fd_(fd), input_(256 * 1024), output_(1024 * 1024) {
  if (inflateInit2(&stream_, kGzipWindowBits) != Z_OK) throw std::bad_alloc();
}

GzipSource::~GzipSource() {
  inflateEnd(&stream_);
}

bool GzipSource::fillInput() {
  for (;;) {
    const ssize_t count = ::read(fd_, input_.data(), input_.size());
    if (count < 0 && errno == EINTR) continue;
    if (count < 0)
      throw ArchiveError(Result::kCorrupt, std::string("read error: ") + std::strerror(errno));
    stream_.next_in = input_.data();
    stream_.avail_in = static_cast<uInt>(count);
    return count > 0;
  }
}

const unsigned char* GzipSource::next(std::size_t& size) {
  stream_.next_out = output_.data();
  stream_.avail_out = static_cast<uInt>(output_.size());
  while (!atEnd_ && stream_.avail_out == output_.size()) {
    if (stream_.avail_in == 0 && !fillInput()) {
      if (inMember_) throw ArchiveError(Result::kCorrupt, "gzip data is truncated");
      atEnd_ = true;
      break;
    }
    if (!inMember_ && stream_.next_in[0] == 0) {
      atEnd_ = true;  // zeros after the last member pad the file to a block size
      break;
    }
    inMember_ = true;
    const int status = inflate(&stream_, Z_NO_FLUSH);
    if (status == Z_STREAM_END) {
      inflateReset(&stream_);  // another member may follow
      inMember_ = false;
    } else if (status != Z_OK && status != Z_BUF_ERROR) {
      throw ArchiveError(Result::kCorrupt, std::string("gzip data is damaged: ") +
                                               (stream_.msg != nullptr ? stream_.msg : "error"));
    }
  }
  size = output_.size() - stream_.avail_out;
  return output_.data();
}

void GzipSource::drain() {
  std::size_t size = 0;
  do {
    next(size);
  } while (size > 0);
}

}  // namespace archivers
