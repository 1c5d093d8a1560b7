#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace archivers {

// An open file descriptor, closed when its owner goes.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  ~FileDescriptor();

  int get() const { return fd_; }
  int release() noexcept;

 private:
  int fd_;
};

struct RegularFile {
  FileDescriptor descriptor;
  std::uint64_t size = 0;
};

// Opens an archive for reading. Anything but a regular file is refused before it is read: a FIFO
// or a device could block the caller forever. Throws ArchiveError(kCannotOpen) naming the file.
RegularFile openRegularFile(const std::string& path);

class ArchiveInput;
class FollowedCall;

// An archive read front to back through a buffer, with seeks, for the formats whose readers are
// our own. Every byte comes through an ArchiveInput.
class InputFile {
 public:
  // The file at path, its reads counted on call. Throws ArchiveError(kCannotOpen) naming the file
  // when it cannot be opened.
  InputFile(const std::string& path, FollowedCall& call);
  // Reads input, which must outlive this.
  explicit InputFile(ArchiveInput& input);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  std::uint64_t size() const { return size_; }
  std::uint64_t tell() const;
  // Throws ArchiveError(kCorrupt) for a position past the end.
  void seek(std::uint64_t position);
  // Up to count bytes; fewer only at the end of the file. Throws kCannotOpen on an I/O error.
  std::size_t read(void* data, std::size_t count);
  // Exactly count bytes, or ArchiveError(kCorrupt, "... truncated").
  void readExact(void* data, std::size_t count);
  // Reads the next count bytes into a vector (readExact semantics).
  std::vector<std::uint8_t> readBytes(std::size_t count);

 private:
  std::unique_ptr<ArchiveInput> owned_;
  ArchiveInput* input_;
  std::uint64_t size_ = 0;
  std::uint64_t bufferStart_ = 0;  // file position of buffer_[0]
  std::size_t bufferFill_ = 0;
  std::size_t bufferPos_ = 0;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace archivers
