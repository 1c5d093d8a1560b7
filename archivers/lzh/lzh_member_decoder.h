#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "common/input_file.h"

struct _LHADecoder;

namespace archivers::lzh {

// Whether a compression method can be decoded here.
bool isSupportedMethod(const std::string& method);

// Decompresses one member's data, read from the archive at its current position and never past
// compressedSize bytes, into originalSize bytes.
class MemberDecoder {
 public:
  // Throws ArchiveError(kUnsupported) for a method that cannot be decoded.
  MemberDecoder(archivers::InputFile& input, const std::string& method,
                std::uint64_t compressedSize, std::uint64_t originalSize);
  MemberDecoder(const MemberDecoder&) = delete;
  MemberDecoder& operator=(const MemberDecoder&) = delete;
  ~MemberDecoder();

  // Up to size bytes of output; 0 once the member's data is done (or cannot go on).
  std::size_t read(std::uint8_t* data, std::size_t size);

 private:
  static std::size_t feed(void* data, std::size_t size, void* self);

  archivers::InputFile& input_;
  std::uint64_t compressedLeft_;
  std::uint64_t outputLeft_;
  _LHADecoder* decoder_ = nullptr;
  std::exception_ptr readError_;
};

}  // namespace archivers::lzh
