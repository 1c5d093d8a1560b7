#include "lzh/lzh_member_decoder.h"

#include <lha_decoder.h>

#include <algorithm>
#include <exception>
#include <limits>
#include <vector>

#include "common/archive_error.h"

namespace archivers::lzh {
namespace {

LHADecoderType* decoderTypeFor(const std::string& method) {
  // -lhd- is a folder and holds no data; everything else liblhasa knows is decoded by it.
  if (method == "-lhd-") return nullptr;
  std::vector<char> name(method.begin(), method.end());
  name.push_back('\0');
  return lha_decoder_for_name(name.data());
}

}  // namespace

bool isSupportedMethod(const std::string& method) {
  return decoderTypeFor(method) != nullptr;
}

MemberDecoder::MemberDecoder(InputFile& input, const std::string& method,
                             std::uint64_t compressedSize, std::uint64_t originalSize)
    : input_(input), compressedLeft_(compressedSize), outputLeft_(originalSize) {
  LHADecoderType* type = decoderTypeFor(method);
  if (type == nullptr) {
    throw ArchiveError(Result::kUnsupported, "compression method " + method + " is not supported");
  }
  if (originalSize > std::numeric_limits<std::size_t>::max()) {
    throw ArchiveError(Result::kUnsupported, "member too large");
  }
  decoder_ =
      lha_decoder_new(type, &MemberDecoder::feed, this, static_cast<std::size_t>(originalSize));
  if (decoder_ == nullptr) throw std::bad_alloc();
}

MemberDecoder::~MemberDecoder() {
  if (decoder_ != nullptr) lha_decoder_free(decoder_);
}

std::size_t MemberDecoder::read(std::uint8_t* data, std::size_t size) {
  if (outputLeft_ == 0) return 0;
  const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size, outputLeft_));
  const std::size_t got = lha_decoder_read(decoder_, data, want);
  if (readError_) std::rethrow_exception(readError_);
  outputLeft_ -= got;
  return got;
}

std::size_t MemberDecoder::feed(void* data, std::size_t size, void* self) {
  auto* decoder = static_cast<MemberDecoder*>(self);
  const std::size_t want =
      static_cast<std::size_t>(std::min<std::uint64_t>(size, decoder->compressedLeft_));
  if (want == 0) return 0;
  // No exception may cross liblhasa's C frames: keep it for read() to throw.
  try {
    const std::size_t got = decoder->input_.read(data, want);
    decoder->compressedLeft_ -= got;
    return got;
  } catch (...) {
    decoder->readError_ = std::current_exception();
    decoder->compressedLeft_ = 0;
    return 0;
  }
}

}  // namespace archivers::lzh
