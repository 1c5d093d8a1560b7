// Arbitrary bytes through the ARJ decoders and the header reader. The first byte picks the target:
// the method 1-3 decoder, the method 4 decoder, an archive walked header by header with each
// member decoded, or the same static-Huffman decoder set up for LZH -lh4- to -lh7-. Damage must
// surface as ArchiveError, never as a crash or an overrun.
#include "arj/arj_fastest.h"
#include "arj/arj_header.h"
#include "common/archive_error.h"
#include "common/input_file.h"
#include "common/lz_huffman_decoder.h"
#include "fuzz_support.h"

namespace {

using fuzz::CountingSink;

constexpr std::uint64_t kMaxOutput = 1 << 20;

std::uint64_t expectedSize(const std::uint8_t* data) {
  return (data[0] | data[1] << 8 | data[2] << 16) % kMaxOutput;
}

void decodeStream(const std::uint8_t* data, std::size_t size, bool fastest) {
  if (size < 3) return;
  const std::uint64_t expected = expectedSize(data);
  archivers::MemorySource source(data + 3, size - 3);
  CountingSink sink;
  if (fastest) {
    archivers::arj::decodeFastestMethod(source, expected, sink);
  } else {
    archivers::lz::decodeLzHuffman(source, expected, sink, archivers::lz::kArjHuffman);
  }
  if (sink.total != expected) std::abort();
}

void decodeLhStream(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return;
  static constexpr const archivers::lz::LzHuffmanFormat* kFormats[] = {
      &archivers::lz::kLh4, &archivers::lz::kLh5, &archivers::lz::kLh6, &archivers::lz::kLh7};
  const archivers::lz::LzHuffmanFormat& format = *kFormats[data[0] % 4];
  const std::uint64_t expected = expectedSize(data + 1);
  archivers::MemorySource source(data + 4, size - 4);
  CountingSink sink;
  archivers::lz::decodeLzHuffman(source, expected, sink, format);
  if (sink.total != expected) std::abort();
}

void walkArchive(const std::uint8_t* data, std::size_t size) {
  archivers::InputFile file(fuzz::writtenToFile(data, size, "fuzz.arj"));
  archivers::arj::readMainHeader(file);
  while (const auto header = archivers::arj::readLocalHeader(file)) {
    const std::uint64_t next = header->dataOffset + header->compressedSize;
    if (header->originalSize <= kMaxOutput && header->method >= 1 && header->method <= 4) {
      archivers::BoundedSource source(file, header->compressedSize);
      CountingSink sink;
      try {
        if (header->method == 4) {
          archivers::arj::decodeFastestMethod(source, header->originalSize, sink);
        } else {
          archivers::lz::decodeLzHuffman(source, header->originalSize, sink,
                                         archivers::lz::kArjHuffman);
        }
      } catch (const archivers::ArchiveError&) {
      }
    }
    file.seek(next);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  try {
    switch (data[0] % 4) {
      case 0:
        decodeStream(data + 1, size - 1, false);
        break;
      case 1:
        decodeStream(data + 1, size - 1, true);
        break;
      case 2:
        walkArchive(data + 1, size - 1);
        break;
      default:
        decodeLhStream(data + 1, size - 1);
        break;
    }
  } catch (const archivers::ArchiveError& error) {
    if (error.result() != archivers::Result::kCorrupt &&
        error.result() != archivers::Result::kCannotOpen) {
      std::abort();
    }
  }
  return 0;
}
