#include <zlib.h>

#include <algorithm>
#include <new>
#include <vector>

#include "cab/block_compressor.h"
#include "cab/lzx_compressor.h"

namespace archivers::cab {
namespace {

// zlib at level 6: level 9 saves 0.2% for over twice the time. libdeflate is faster and smaller,
// but writes deflate blocks without distance codes, which libmspack (cabextract) refuses.
constexpr int kLevel = 6;
constexpr std::size_t kStoredHeader = 5;  // final stored deflate block: type byte, LEN, NLEN

class MszipCompressor : public BlockCompressor {
 public:
  MszipCompressor() {
    if (deflateInit2(&stream_, kLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
      throw std::bad_alloc();
    }
    coded_.resize(2 + std::max<std::size_t>(deflateBound(&stream_, kBlockBytes),
                                            kBlockBytes + kStoredHeader));
    coded_[0] = 'C';
    coded_[1] = 'K';
  }
  MszipCompressor(const MszipCompressor&) = delete;
  MszipCompressor& operator=(const MszipCompressor&) = delete;
  ~MszipCompressor() override { deflateEnd(&stream_); }

  std::uint16_t folderType() const override { return 1; }
  void startFolder(const FolderTraits&) override {}

  std::span<const CodedBlock> compressDataBlock(std::span<const std::uint8_t> block) override {
    deflateReset(&stream_);
    stream_.next_in = const_cast<Bytef*>(block.data());
    stream_.avail_in = static_cast<uInt>(block.size());
    stream_.next_out = coded_.data() + 2;
    stream_.avail_out = static_cast<uInt>(coded_.size() - 2);
    std::size_t size =
        deflate(&stream_, Z_FINISH) == Z_STREAM_END ? coded_.size() - 2 - stream_.avail_out : 0;
    // Readers take at most 32 KiB and a little more per block: what does not shrink is stored.
    if (size == 0 || size > block.size() + kStoredHeader) {
      std::uint8_t* out = coded_.data() + 2;
      const auto length = static_cast<std::uint16_t>(block.size());
      out[0] = 1;  // final block, stored
      out[1] = static_cast<std::uint8_t>(length);
      out[2] = static_cast<std::uint8_t>(length >> 8);
      out[3] = static_cast<std::uint8_t>(~length);
      out[4] = static_cast<std::uint8_t>(~length >> 8);
      std::copy(block.begin(), block.end(), out + kStoredHeader);
      size = kStoredHeader + block.size();
    }
    result_ = {{coded_.data(), size + 2}, static_cast<std::uint32_t>(block.size())};
    return {&result_, 1};
  }

 private:
  z_stream stream_{};
  CodedBlock result_;
  std::vector<std::uint8_t> coded_;
};

}  // namespace

std::unique_ptr<BlockCompressor> makeMszipCompressor() {
  return std::make_unique<MszipCompressor>();
}

std::unique_ptr<BlockCompressor> makeBlockCompressor(const CompressionMethod& method,
                                                     unsigned threads) {
  if (method.kind == CompressionMethod::Kind::kLzx) {
    return makeLzxCompressor(method.windowBits, threads);
  }
  return makeMszipCompressor();
}

std::uint16_t folderTypeOf(const CompressionMethod& method) {
  if (method.kind == CompressionMethod::Kind::kLzx) {
    return static_cast<std::uint16_t>(3 | method.windowBits << 8);
  }
  return 1;
}

std::size_t compressorMemory(const CompressionMethod& method) {
  if (method.kind == CompressionMethod::Kind::kLzx) return lzxCompressorMemory(method.windowBits);
  return 512 * 1024;  // zlib's deflate state at level 6 and the coded block
}

}  // namespace archivers::cab
