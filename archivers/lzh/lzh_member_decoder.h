#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "common/stream.h"

struct _LHADecoder;
struct _LHADecoderType;

namespace archivers::lzh {

// Whether a compression method can be decoded here.
bool isSupportedMethod(const std::string& method);

// Decompresses one member's stored data, taken from source (which ends where the data does).
// -lh4- to -lh7- go through our own decoder, the older and rarer methods through liblhasa.
class MemberDecoder {
 public:
  // Throws ArchiveError(kUnsupported) for a method that cannot be decoded.
  MemberDecoder(ByteSource& source, const std::string& method, std::uint64_t originalSize);
  MemberDecoder(const MemberDecoder&) = delete;
  MemberDecoder& operator=(const MemberDecoder&) = delete;
  ~MemberDecoder();

  // Hands up to originalSize bytes of output to sink and returns their CRC-16. Data that ends
  // early gives fewer bytes, or ArchiveError(kCorrupt) when the decoder can tell it is damaged.
  std::uint16_t decodeTo(ByteSink& sink);

 private:
  std::uint16_t decodeWithLiblhasa(ByteSink& sink);
  static std::size_t feed(void* data, std::size_t size, void* self);

  ByteSource& source_;
  std::string method_;
  std::uint64_t originalSize_;
  _LHADecoderType* liblhasaType_ = nullptr;
  _LHADecoder* decoder_ = nullptr;
  std::exception_ptr readError_;
};

}  // namespace archivers::lzh
