#include "arj/arj_extractor.h"

#include <algorithm>
#include <ctime>
#include <optional>
#include <vector>

#include "arj/arj_fastest.h"
#include "arj/arj_header.h"
#include "common/archive_error.h"
#include "common/crc.h"
#include "common/dos_time.h"
#include "common/extraction_driver.h"
#include "common/extraction_sink.h"
#include "common/input_file.h"
#include "common/lz_huffman_decoder.h"
#include "common/text_encoding.h"

namespace archivers::arj {

namespace {

constexpr std::uint8_t kStored = 0;
constexpr std::uint8_t kFastest = 4;

bool isFile(const Header& header) {
  return header.fileType == file_types::kBinary || header.fileType == file_types::kText;
}

// Decoded before the separators change: a CP932 trail byte may be 0x5C.
std::string memberPath(const Header& header) {
  return withForwardSlashes(decodeUnflaggedName(header.name));
}

bool isUnixHost(const Header& header) {
  return header.hostOs == host_os::kUnix || header.hostOs == host_os::kNext;
}

EntryInfo entryFor(const Header& header) {
  EntryInfo entry;
  entry.path = memberPath(header);
  entry.type = header.fileType == file_types::kDirectory ? EntryType::kDirectory : EntryType::kFile;
  if (entry.type == EntryType::kFile) entry.declaredSize = header.originalSize;
  // Unix hosts store their own timestamps, seconds since the epoch.
  if (isUnixHost(header)) {
    entry.mtime = header.timestamp;
    entry.mode = header.accessMode & 0777u;
  } else {
    entry.mtime = dosTimeToUnix(header.timestamp);
  }
  return entry;
}

ArchiveError multiVolume() {
  return ArchiveError(Result::kUnsupported, "multi-volume ARJ archives are not supported");
}

// Whether the member's data runs past the end of the archive: the headers after it are lost.
bool cutShort(const InputFile& file, const Header& header) {
  return header.compressedSize > file.size() - std::min(header.dataOffset, file.size());
}

// Reads the header chain before anything is written, as far as it is sound: the damage is
// reported where the extraction meets it, after the members before it.
void checkArchive(InputFile& file, const Header& main) {
  if ((main.flags & flags::kVolume) != 0) throw multiVolume();
  std::size_t files = 0;
  std::size_t encrypted = 0;
  try {
    while (std::optional<Header> header = readLocalHeader(file)) {
      if ((header->flags & (flags::kVolume | flags::kExtFile)) != 0) throw multiVolume();
      if (isFile(*header)) {
        ++files;
        if ((header->flags & flags::kGarbled) != 0) ++encrypted;
      }
      if (cutShort(file, *header)) break;
      file.seek(header->dataOffset + header->compressedSize);
    }
  } catch (const ArchiveError& error) {
    if (error.result() != Result::kCorrupt) throw;
  }
  if (files > 0 && encrypted == files) {
    throw ArchiveError(Result::kUnsupported,
                       "the archive is encrypted; password-protected ARJ is not supported");
  }
}

void copyStored(ByteSource& source, std::uint64_t size, ByteSink& sink) {
  std::vector<std::uint8_t> buffer(64 * 1024);
  while (size > 0) {
    const std::size_t got = source.read(buffer.data(), buffer.size());
    if (got == 0) throw ArchiveError(Result::kCorrupt, "stored data truncated");
    if (got > size) throw ArchiveError(Result::kCorrupt, "data longer than stated");
    sink.write(buffer.data(), got);
    size -= got;
  }
}

// Decodes the member's stored data, which source ends with, and checks its CRC.
void decodeMember(ByteSource& source, const Header& header, ByteSink& output) {
  Crc32PassThrough sink(output);
  if (header.method == kStored) {
    if (header.compressedSize != header.originalSize) {
      throw ArchiveError(Result::kCorrupt, "stored sizes disagree");
    }
    copyStored(source, header.originalSize, sink);
  } else if (header.method == kFastest) {
    decodeFastestMethod(source, header.originalSize, sink);
  } else {
    lz::decodeLzHuffman(source, header.originalSize, sink, lz::kArjHuffman);
  }
  if (sink.crc() != header.fileCrc) {
    throw ArchiveError(Result::kCorrupt, "damaged data, CRC mismatch");
  }
}

void extractMember(InputFile& file, const Header& header, const EntryInfo& entry,
                   ExtractionSink& sink) {
  if (header.fileType == file_types::kDirectory) {
    sink.createDirectory(entry);
    return;
  }
  if (!isFile(header)) return;  // comments, volume and chapter labels
  if ((header.flags & flags::kGarbled) != 0) throw ArchiveError(Result::kUnsupported, "encrypted");
  if (header.method > kFastest) {
    throw ArchiveError(Result::kUnsupported,
                       "compression method " + std::to_string(header.method) + " not supported");
  }
  file.seek(header.dataOffset);
  if (sink.decodesLater(header.compressedSize, header.originalSize)) {
    sink.extractLater(entry, file.readBytes(static_cast<std::size_t>(header.compressedSize)),
                      [header](std::span<const std::uint8_t> stored, FileOutput& output) {
                        MemorySource source(stored.data(), stored.size());
                        decodeMember(source, header, output);
                      });
    return;
  }
  std::unique_ptr<FileOutput> output = sink.createFile(entry);
  if (!output) return;
  BoundedSource stored(file, header.compressedSize);
  decodeMember(stored, header, *output);
  output->commit();
}

}  // namespace

void readArjArchive(ArchiveInput& input, ExtractionSink& sink) {
  InputFile file(input);
  const Header main = readMainHeader(file);
  checkArchive(file, main);
  file.seek(main.dataOffset);
  while (std::optional<Header> header = readLocalHeader(file)) {
    const EntryInfo entry = entryFor(*header);
    guardMember(sink, entry.path, [&] {
      if (cutShort(file, *header)) throw ArchiveError(Result::kCorrupt, "archive truncated");
      extractMember(file, *header, entry, sink);
    });
    if (cutShort(file, *header)) break;
    file.seek(header->dataOffset + header->compressedSize);
  }
}

}  // namespace archivers::arj
