#include "cab/mszip_folder_reader.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "cab/block_checksum.h"
#include "common/archive_error.h"
#include "common/byte_order.h"

namespace archivers::cab {
namespace {

constexpr std::size_t kBlockBytes = 32768;
constexpr std::size_t kMaxCompressedBytes = kBlockBytes + 6144;
constexpr std::size_t kStoredHeaderBytes = 5;

[[noreturn]] void throwDamaged(const char* reason) {
  throw ArchiveError(Result::kCorrupt, reason);
}

}  // namespace

void MszipFolderReader::Decompressor::operator()(libdeflate_decompressor* decompressor) const {
  libdeflate_free_decompressor(decompressor);
}

MszipFolderReader::MszipFolderReader(ArchiveInput& input, const FolderLayout& folder,
                                     unsigned blockReserve)
    : input_(input),
      inputPosition_(folder.dataOffset),
      blocksLeft_(folder.blockCount),
      blockReserve_(blockReserve),
      decompressor_(libdeflate_alloc_decompressor()),
      windowedInput_(kStoredHeaderBytes + kBlockBytes + kMaxCompressedBytes + 8 + blockReserve),
      decoded_(2 * kBlockBytes) {
  if (decompressor_ == nullptr) throw std::bad_alloc();
  if (folder.dataOffset > input_.size()) {
    throwDamaged("an offset points past the end of the cabinet");
  }
}

void MszipFolderReader::copy(FileOutput* output, std::uint64_t count) {
  while (count > 0) {
    if (decodedPosition_ == decodedEnd_) decodeNextBlock();
    const std::size_t size =
        static_cast<std::size_t>(std::min<std::uint64_t>(count, decodedEnd_ - decodedPosition_));
    if (output != nullptr) output->write(decoded_.data() + decodedPosition_, size);
    decodedPosition_ += size;
    position_ += size;
    count -= size;
  }
}

void MszipFolderReader::decodeNextBlock() {
  if (blocksLeft_ == 0) throwDamaged("malformed cabinet data");
  --blocksLeft_;
  const std::size_t headerSize = 8 + blockReserve_;
  if (headerFill_ < headerSize) {
    const std::size_t wanted = headerSize - headerFill_;
    if (input_.readAt(inputPosition_, &header_[headerFill_], wanted) != wanted) {
      throwDamaged("data cut short (truncated cabinet)");
    }
    inputPosition_ += wanted;
  }
  const std::size_t compressedSize = header_[4] | (header_[5] << 8);
  const std::size_t decodedSize = header_[6] | (header_[7] << 8);
  if (compressedSize > kMaxCompressedBytes || decodedSize > kBlockBytes || decodedSize == 0 ||
      compressedSize < 2) {
    throwDamaged("malformed cabinet data");
  }
  // The block goes right behind the window's place, its "CK" over the window's last two bytes.
  std::uint8_t* const deflateData = windowedInput_.data() + kStoredHeaderBytes + kBlockBytes;
  std::uint8_t* const block = deflateData - 2;
  // The block, and the next one's header with it.
  const std::size_t wanted = compressedSize + (blocksLeft_ > 0 ? headerSize : 0);
  const std::size_t got = input_.readAt(inputPosition_, block, wanted);
  if (got < compressedSize) throwDamaged("data cut short (truncated cabinet)");
  inputPosition_ += got;
  const std::uint32_t storedSum = loadLe32(&header_[0]);
  if (storedSum != 0 &&
      blockChecksum(&header_[4], 4, blockChecksum(block, compressedSize, 0)) != storedSum) {
    throwDamaged("data block checksum mismatch");
  }
  if (block[0] != 'C' || block[1] != 'K') throwDamaged("damaged compressed data");
  headerFill_ = got - compressedSize;
  std::memcpy(header_.data(), block + compressedSize, headerFill_);

  // Every block is a deflate stream of its own over the last 32 KiB decoded before it.
  const std::size_t windowSize = std::min(decodedEnd_, kBlockBytes);
  std::uint8_t* streamStart = deflateData;
  if (windowSize > 0) {
    streamStart = deflateData - windowSize - kStoredHeaderBytes;
    std::memcpy(deflateData - windowSize, decoded_.data() + decodedEnd_ - windowSize, windowSize);
    streamStart[0] = 0;  // not the last block, stored, padding to the byte
    storeLe16(streamStart + 1, static_cast<std::uint16_t>(windowSize));
    storeLe16(streamStart + 3, static_cast<std::uint16_t>(~windowSize));
  }
  const std::size_t streamSize =
      static_cast<std::size_t>(deflateData - streamStart) + compressedSize - 2;
  // Exactly the window and the block's stated size, or the block is damaged.
  if (libdeflate_deflate_decompress(decompressor_.get(), streamStart, streamSize, decoded_.data(),
                                    windowSize + decodedSize, nullptr) != LIBDEFLATE_SUCCESS) {
    throwDamaged("damaged compressed data");
  }
  decodedPosition_ = windowSize;
  decodedEnd_ = windowSize + decodedSize;
}

}  // namespace archivers::cab
