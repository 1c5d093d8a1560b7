#include "cab/mszip_folder_reader.h"

#include <algorithm>
#include <array>

#include "cab/block_checksum.h"
#include "common/archive_error.h"
#include "common/byte_order.h"

namespace archivers::cab {
namespace {

constexpr std::size_t kBlockBytes = 32768;
constexpr std::size_t kMaxCompressedBytes = kBlockBytes + 6144;

[[noreturn]] void throwDamaged(const char* reason) {
  throw ArchiveError(Result::kCorrupt, reason);
}

}  // namespace

InflateStream::InflateStream() {
  if (inflateInit2(&stream_, -MAX_WBITS) != Z_OK) {
    throw ArchiveError(Result::kInternal, "cannot start the MSZIP decoder");
  }
}

MszipFolderReader::MszipFolderReader(const std::string& cabinetPath, const FolderLayout& folder,
                                     unsigned blockReserve)
    : input_(cabinetPath),
      blocksLeft_(folder.blockCount),
      blockReserve_(blockReserve),
      compressed_(kMaxCompressedBytes),
      decoded_(kBlockBytes) {
  if (folder.dataOffset > input_.size())
    throwDamaged("an offset points past the end of the cabinet");
  input_.seek(folder.dataOffset);
  window_.reserve(kBlockBytes);
}

void MszipFolderReader::copy(FileOutput* output, std::uint64_t count) {
  while (count > 0) {
    if (decodedPosition_ == decodedSize_) decodeNextBlock();
    const std::size_t size =
        static_cast<std::size_t>(std::min<std::uint64_t>(count, decodedSize_ - decodedPosition_));
    if (output != nullptr) output->write(decoded_.data() + decodedPosition_, size);
    decodedPosition_ += size;
    position_ += size;
    count -= size;
  }
}

void MszipFolderReader::decodeNextBlock() {
  if (blocksLeft_ == 0) throwDamaged("malformed cabinet data");
  --blocksLeft_;
  std::array<std::uint8_t, 8 + 255> header{};
  const std::size_t headerSize = 8 + blockReserve_;
  if (input_.read(header.data(), headerSize) != headerSize) {
    throwDamaged("data cut short (truncated cabinet)");
  }
  const std::size_t compressedSize = header[4] | (header[5] << 8);
  const std::size_t decodedSize = header[6] | (header[7] << 8);
  if (compressedSize > kMaxCompressedBytes || decodedSize > kBlockBytes || decodedSize == 0 ||
      compressedSize < 2) {
    throwDamaged("malformed cabinet data");
  }
  if (input_.read(compressed_.data(), compressedSize) != compressedSize) {
    throwDamaged("data cut short (truncated cabinet)");
  }
  const std::uint32_t storedSum = loadLe32(&header[0]);
  if (storedSum != 0 &&
      blockChecksum(&header[4], 4, blockChecksum(compressed_.data(), compressedSize, 0)) !=
          storedSum) {
    throwDamaged("data block checksum mismatch");
  }
  if (compressed_[0] != 'C' || compressed_[1] != 'K') throwDamaged("damaged compressed data");

  // Every block is a deflate stream of its own, started afresh over the output before it.
  if (inflateReset(stream_.get()) != Z_OK ||
      (!window_.empty() && inflateSetDictionary(stream_.get(), window_.data(),
                                                static_cast<uInt>(window_.size())) != Z_OK)) {
    throwDamaged("damaged compressed data");
  }
  stream_->next_in = compressed_.data() + 2;
  stream_->avail_in = static_cast<uInt>(compressedSize - 2);
  stream_->next_out = decoded_.data();
  stream_->avail_out = static_cast<uInt>(decodedSize);
  const int status = inflate(stream_.get(), Z_FINISH);
  if (status != Z_STREAM_END || stream_->avail_out != 0) throwDamaged("damaged compressed data");

  // The window the next block may refer back into: the last 32 KiB decoded.
  if (decodedSize >= kBlockBytes) {
    window_.assign(decoded_.begin(), decoded_.begin() + static_cast<std::ptrdiff_t>(decodedSize));
  } else {
    const std::size_t keep = std::min(window_.size(), kBlockBytes - decodedSize);
    window_.erase(window_.begin(), window_.end() - static_cast<std::ptrdiff_t>(keep));
    window_.insert(window_.end(), decoded_.begin(),
                   decoded_.begin() + static_cast<std::ptrdiff_t>(decodedSize));
  }
  decodedSize_ = decodedSize;
  decodedPosition_ = 0;
}

}  // namespace archivers::cab
