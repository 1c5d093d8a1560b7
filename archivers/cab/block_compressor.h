#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace archivers::cab {

// Uncompressed bytes in every data block of a folder but its last.
inline constexpr std::size_t kBlockBytes = 32768;

// How the data blocks of a cabinet are coded: MSZIP, or LZX with a window of 2^windowBits bytes.
struct CompressionMethod {
  enum class Kind { kMszip, kLzx };
  Kind kind = Kind::kMszip;
  int windowBits = 0;  // LZX: 15 to 21
  bool operator==(const CompressionMethod&) const = default;
};

// What the writer knows of a folder before its first block is coded.
struct FolderTraits {
  std::uint64_t size = 0;  // uncompressed
  bool looksLikeX86Code = false;
  std::vector<std::uint32_t> memberStarts;  // where each file's data begins, ascending
};

// One data block as coded, and how many bytes it gives back.
struct CodedBlock {
  std::span<const std::uint8_t> bytes;
  std::uint32_t uncompressedSize = 0;
};

// Codes the data blocks of a cabinet's folders for one compression method, one folder at a time.
class BlockCompressor {
 public:
  virtual ~BlockCompressor() = default;
  // The folder's typeCompress field.
  virtual std::uint16_t folderType() const = 0;
  // A new folder begins: nothing of the folder before may be referred to.
  virtual void startFolder(const FolderTraits& traits) = 0;
  // Takes the folder's next data block of at most kBlockBytes (every one but the folder's last
  // holds exactly kBlockBytes) and returns the data blocks now coded, in order, valid until the
  // next call. A compressor may hold data blocks back to code several together: it returns none
  // for a while, then several, and all of the folder's by its last (the traits tell the folder's
  // size).
  virtual std::span<const CodedBlock> compressDataBlock(
      std::span<const std::uint8_t> dataBlock) = 0;
};

// MSZIP: every block "CK" and a deflate stream of its own, so blocks never refer to each other.
std::unique_ptr<BlockCompressor> makeMszipCompressor();

// threads: how many a compressor may use for one folder (LZX finds matches on a second).
std::unique_ptr<BlockCompressor> makeBlockCompressor(const CompressionMethod& method,
                                                     unsigned threads = 1);

// The typeCompress field of the method's folders.
std::uint16_t folderTypeOf(const CompressionMethod& method);

// The most a compressor of the method holds while it codes (window, match finder, one block).
std::size_t compressorMemory(const CompressionMethod& method);

}  // namespace archivers::cab
