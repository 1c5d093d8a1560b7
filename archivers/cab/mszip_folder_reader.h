#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "cab/cabinet_layout.h"
#include "common/archive_input.h"
#include "common/extraction_sink.h"

struct libdeflate_decompressor;

namespace archivers::cab {

// Decodes one MSZIP folder of a cabinet from its first data block on. Each block is "CK" and a
// deflate stream of at most 32 KiB that may refer back into the blocks before it. The block
// checksums are checked as they are read.
class MszipFolderReader {
 public:
  // Reads the cabinet from input, which must outlive this. Throws ArchiveError(kCorrupt) when the
  // folder starts past the end.
  MszipFolderReader(ArchiveInput& input, const FolderLayout& folder, unsigned blockReserve);
  MszipFolderReader(const MszipFolderReader&) = delete;
  MszipFolderReader& operator=(const MszipFolderReader&) = delete;

  // Decoded bytes handed out so far.
  std::uint64_t position() const { return position_; }
  // Hands the next count decoded bytes to output, or drops them when output is null. Throws
  // ArchiveError: kCorrupt for damaged or missing data, what FileOutput::write throws.
  void copy(FileOutput* output, std::uint64_t count);

 private:
  void decodeNextBlock();

  struct Decompressor {
    void operator()(libdeflate_decompressor* decompressor) const;
  };

  ArchiveInput& input_;
  std::uint64_t inputPosition_;  // of the next byte not read yet
  // The next block's header, read with the block before it: one read per block.
  std::array<std::uint8_t, 8 + 255> header_{};
  std::size_t headerFill_ = 0;
  unsigned blocksLeft_;
  unsigned blockReserve_;
  std::unique_ptr<libdeflate_decompressor, Decompressor> decompressor_;
  // A stored deflate block holding the window (what the block may refer back into), then the
  // block's own deflate data: decoded as one stream, it gives the window and the block's bytes.
  std::vector<std::uint8_t> windowedInput_;
  std::vector<std::uint8_t> decoded_;  // the window, then the block's bytes
  std::size_t decodedEnd_ = 0;
  std::size_t decodedPosition_ = 0;
  std::uint64_t position_ = 0;
};

}  // namespace archivers::cab
