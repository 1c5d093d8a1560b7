#include "lzh/lzh_member_decoder.h"

#include <lha_decoder.h>

#include <algorithm>
#include <exception>
#include <limits>
#include <vector>

#include "common/archive_error.h"
#include "common/crc.h"
#include "common/lz_huffman_decoder.h"

namespace archivers::lzh {
namespace {

const lz::LzHuffmanFormat* ownFormatFor(const std::string& method) {
  if (method == "-lh4-") return &lz::kLh4;
  if (method == "-lh5-") return &lz::kLh5;
  if (method == "-lh6-") return &lz::kLh6;
  if (method == "-lh7-") return &lz::kLh7;
  return nullptr;
}

LHADecoderType* liblhasaTypeFor(const std::string& method) {
  // -lhd- is a folder and holds no data.
  if (method == "-lhd-") return nullptr;
  std::vector<char> name(method.begin(), method.end());
  name.push_back('\0');
  return lha_decoder_for_name(name.data());
}

constexpr std::size_t kBlockSize = 64 * 1024;

}  // namespace

bool isSupportedMethod(const std::string& method) {
  return ownFormatFor(method) != nullptr || liblhasaTypeFor(method) != nullptr;
}

MemberDecoder::MemberDecoder(ByteSource& source, const std::string& method,
                             std::uint64_t originalSize)
    : source_(source), method_(method), originalSize_(originalSize) {
  if (ownFormatFor(method) != nullptr) return;
  liblhasaType_ = liblhasaTypeFor(method);
  if (liblhasaType_ == nullptr) {
    throw ArchiveError(Result::kUnsupported, "compression method " + method + " is not supported");
  }
  if (originalSize > std::numeric_limits<std::size_t>::max()) {
    throw ArchiveError(Result::kUnsupported, "member too large");
  }
}

MemberDecoder::~MemberDecoder() {
  if (decoder_ != nullptr) lha_decoder_free(decoder_);
}

std::uint16_t MemberDecoder::decodeTo(ByteSink& sink) {
  if (const lz::LzHuffmanFormat* format = ownFormatFor(method_)) {
    Crc16PassThrough checked(sink);
    lz::decodeLzHuffman(source_, originalSize_, checked, *format);
    return checked.crc();
  }
  return decodeWithLiblhasa(sink);
}

std::uint16_t MemberDecoder::decodeWithLiblhasa(ByteSink& sink) {
  decoder_ = lha_decoder_new(liblhasaType_, &MemberDecoder::feed, this,
                             static_cast<std::size_t>(originalSize_));
  if (decoder_ == nullptr) throw std::bad_alloc();
  std::vector<std::uint8_t> block(kBlockSize);
  std::uint64_t left = originalSize_;
  while (left > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), left));
    const std::size_t got = lha_decoder_read(decoder_, block.data(), want);
    if (readError_) std::rethrow_exception(readError_);
    if (got == 0) break;
    sink.write(block.data(), got);
    left -= got;
  }
  // liblhasa keeps the CRC of everything it decoded.
  return lha_decoder_get_crc(decoder_);
}

std::size_t MemberDecoder::feed(void* data, std::size_t size, void* self) {
  auto* decoder = static_cast<MemberDecoder*>(self);
  // No exception may cross liblhasa's C frames: keep it for decodeWithLiblhasa() to throw.
  try {
    return decoder->source_.read(static_cast<std::uint8_t*>(data), size);
  } catch (...) {
    decoder->readError_ = std::current_exception();
    return 0;
  }
}

}  // namespace archivers::lzh
