#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cab/cabinet_layout.h"
#include "common/extraction_sink.h"
#include "common/input_file.h"

namespace archivers::cab {

// A raw-deflate zlib stream, ended with its owner.
class InflateStream {
 public:
  InflateStream();
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;
  ~InflateStream() { inflateEnd(&stream_); }
  z_stream* get() { return &stream_; }
  z_stream* operator->() { return &stream_; }

 private:
  z_stream stream_{};
};

// Decodes one MSZIP folder of a cabinet from its first data block on, with zlib. Each block is
// "CK" and a deflate stream of at most 32 KiB that may refer back into the blocks before it. The
// block checksums are checked as they are read.
class MszipFolderReader {
 public:
  // Throws ArchiveError(kCannotOpen) when the cabinet cannot be opened.
  MszipFolderReader(const std::string& cabinetPath, const FolderLayout& folder,
                    unsigned blockReserve);
  MszipFolderReader(const MszipFolderReader&) = delete;
  MszipFolderReader& operator=(const MszipFolderReader&) = delete;

  // Decoded bytes handed out so far.
  std::uint64_t position() const { return position_; }
  // Hands the next count decoded bytes to output, or drops them when output is null. Throws
  // ArchiveError: kCorrupt for damaged or missing data, what FileOutput::write throws.
  void copy(FileOutput* output, std::uint64_t count);

 private:
  void decodeNextBlock();

  InputFile input_;
  unsigned blocksLeft_;
  unsigned blockReserve_;
  InflateStream stream_;
  std::vector<std::uint8_t> compressed_;
  std::vector<std::uint8_t> decoded_;
  std::vector<std::uint8_t> window_;  // the last 32 KiB decoded, for the next block
  std::size_t decodedSize_ = 0;
  std::size_t decodedPosition_ = 0;
  std::uint64_t position_ = 0;
};

}  // namespace archivers::cab
