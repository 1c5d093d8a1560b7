#include "common/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "common/archive_error.h"
#include "common/archive_input.h"

namespace archivers {
namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

[[noreturn]] void throwCannotOpen(const std::string& path, int error) {
  throw ArchiveError(Result::kCannotOpen, std::string("cannot open, ") + std::strerror(error),
                     path);
}

}  // namespace

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

int FileDescriptor::release() noexcept {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

RegularFile openRegularFile(const std::string& path) {
  // Without O_NONBLOCK, opening a FIFO waits for a writer that may never come.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (fd.get() < 0) throwCannotOpen(path, errno);
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) throwCannotOpen(path, errno);
  if (!S_ISREG(status.st_mode)) {
    throw ArchiveError(Result::kCannotOpen, "not a regular file", path);
  }
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    throwCannotOpen(path, errno);
  }
  return {std::move(fd), static_cast<std::uint64_t>(status.st_size)};
}

InputFile::InputFile(const std::string& path, FollowedCall& call)
    : owned_(std::make_unique<FileArchiveInput>(path, call)),
      input_(owned_.get()),
      size_(input_->size()),
      buffer_(kBufferSize) {}

InputFile::InputFile(ArchiveInput& input)
    : input_(&input), size_(input.size()), buffer_(kBufferSize) {}

InputFile::~InputFile() = default;

std::uint64_t InputFile::tell() const {
  return bufferStart_ + bufferPos_;
}

void InputFile::seek(std::uint64_t position) {
  if (position > size_) {
    throw ArchiveError(Result::kCorrupt, "archive is truncated (offset past the end)");
  }
  if (position >= bufferStart_ && position <= bufferStart_ + bufferFill_) {
    bufferPos_ = static_cast<std::size_t>(position - bufferStart_);
    return;
  }
  bufferStart_ = position;
  bufferFill_ = 0;
  bufferPos_ = 0;
}

std::size_t InputFile::read(void* data, std::size_t count) {
  auto* out = static_cast<std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < count) {
    if (bufferPos_ == bufferFill_) {
      bufferStart_ += bufferFill_;
      bufferFill_ = 0;
      bufferPos_ = 0;
      // Large reads bypass the buffer.
      if (count - done >= buffer_.size()) {
        const std::size_t got = input_->readAt(bufferStart_, out + done, count - done);
        if (got == 0) break;
        done += got;
        bufferStart_ += got;
        continue;
      }
      const std::size_t got = input_->readAt(bufferStart_, buffer_.data(), buffer_.size());
      if (got == 0) break;
      bufferFill_ = got;
    }
    const std::size_t take = std::min(count - done, bufferFill_ - bufferPos_);
    std::memcpy(out + done, buffer_.data() + bufferPos_, take);
    bufferPos_ += take;
    done += take;
  }
  return done;
}

void InputFile::readExact(void* data, std::size_t count) {
  if (read(data, count) != count) {
    throw ArchiveError(Result::kCorrupt, "archive is truncated");
  }
}

std::vector<std::uint8_t> InputFile::readBytes(std::size_t count) {
  if (count > size_ - std::min(size_, tell())) {
    throw ArchiveError(Result::kCorrupt, "archive is truncated");
  }
  std::vector<std::uint8_t> bytes(count);
  readExact(bytes.data(), count);
  return bytes;
}

}  // namespace archivers
