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
#include "common/extraction_sink.h"
#include "common/input_file.h"
#include "common/lz_huffman_decoder.h"
#include "common/progress.h"
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

// Walks the header chain without writing anything.
void checkArchive(InputFile& file, const Header& main) {
  if ((main.flags & flags::kVolume) != 0) throw multiVolume();
  std::size_t files = 0;
  std::size_t encrypted = 0;
  while (std::optional<Header> header = readLocalHeader(file)) {
    if ((header->flags & (flags::kVolume | flags::kExtFile)) != 0) throw multiVolume();
    if (isFile(*header)) {
      ++files;
      if ((header->flags & flags::kGarbled) != 0) ++encrypted;
    }
    file.seek(header->dataOffset + header->compressedSize);
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

void decodeMember(InputFile& file, const Header& header, ByteSink& sink) {
  file.seek(header.dataOffset);
  BoundedSource source(file, header.compressedSize);
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
}

// Damaged data is recorded in the sink, and the reader goes on with the next member.
void extractMember(InputFile& file, const Header& header, ExtractionSink& sink) {
  const EntryInfo entry = entryFor(header);
  if (header.fileType == file_types::kDirectory) {
    sink.createDirectory(entry);
    return;
  }
  if (!isFile(header)) return;  // comments, volume and chapter labels
  if ((header.flags & flags::kGarbled) != 0) {
    sink.fail(Result::kUnsupported, "encrypted", entry.path);
    return;
  }
  if (header.method > kFastest) {
    sink.fail(Result::kUnsupported,
              "compression method " + std::to_string(header.method) + " not supported", entry.path);
    return;
  }
  std::unique_ptr<FileOutput> output = sink.createFile(entry);
  if (!output) return;
  Crc32PassThrough checked(*output);
  try {
    decodeMember(file, header, checked);
  } catch (const ArchiveError& error) {
    if (error.result() != Result::kCorrupt) throw;
    sink.fail(Result::kCorrupt, std::string("damaged data, ") + error.what(), entry.path);
    return;
  }
  if (checked.crc() != header.fileCrc) {
    sink.fail(Result::kCorrupt, "damaged data, CRC mismatch", entry.path);
    return;
  }
  output->commit();
}

}  // namespace

void readArjArchive(ArchiveInput& input, ExtractionSink& sink) {
  InputFile file(input);
  const Header main = readMainHeader(file);
  checkArchive(file, main);
  file.seek(main.dataOffset);
  while (std::optional<Header> header = readLocalHeader(file)) {
    extractMember(file, *header, sink);
    file.seek(header->dataOffset + header->compressedSize);
  }
}

std::string extractArchive(const std::string& archivePath, const std::string& destination,
                           FollowedCall& call) {
  FileArchiveInput input(archivePath, call);
  call.setArchive(archivePath, input.size());
  ExtractionSink sink(destination, call);
  readArjArchive(input, sink);
  return sink.finish();
}

}  // namespace archivers::arj
