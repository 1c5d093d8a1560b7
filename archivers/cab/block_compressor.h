#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace archivers::cab {

// Uncompressed bytes in every data block of a folder but its last.
inline constexpr std::size_t kBlockBytes = 32768;

// Codes the data blocks of a cabinet's folders for one compression method. MSZIP is the one there
// is; an LZX coder (-ml:21) would keep its window across the blocks of a folder.
class BlockCompressor {
 public:
  virtual ~BlockCompressor() = default;
  // The folder's typeCompress field.
  virtual std::uint16_t folderType() const = 0;
  // A new folder begins: nothing of the folder before may be referred to.
  virtual void startFolder() = 0;
  // The coded form of one block of at most kBlockBytes, valid until the next call.
  virtual std::span<const std::uint8_t> compressBlock(std::span<const std::uint8_t> block) = 0;
};

// MSZIP: every block "CK" and a deflate stream of its own, so blocks never refer to each other.
std::unique_ptr<BlockCompressor> makeMszipCompressor();

}  // namespace archivers::cab
