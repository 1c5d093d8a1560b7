#include "lzh/lzh_extractor.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "common/archive_error.h"
#include "common/crc.h"
#include "common/extraction_sink.h"
#include "common/input_file.h"
#include "lzh/lzh_header.h"
#include "lzh/lzh_macbinary.h"
#include "lzh/lzh_member_decoder.h"

namespace archivers::lzh {
namespace {

constexpr std::size_t kBlockSize = 64 * 1024;

EntryInfo entryFor(const MemberHeader& header, EntryType type) {
  EntryInfo entry;
  entry.path = header.path;
  entry.type = type;
  entry.mtime = header.mtime;
  if (header.unixMode) entry.mode = *header.unixMode & 07777;
  if (type == EntryType::kFile) entry.declaredSize = header.originalSize;
  if (type == EntryType::kSymlink) entry.linkTarget = header.linkTarget;
  return entry;
}

class ArchiveExtraction {
 public:
  ArchiveExtraction(const std::string& archivePath, const std::string& destination)
      : input_(archivePath), sink_(destination) {}

  std::string run() {
    input_.seek(findFirstHeader(input_));
    while (std::optional<MemberHeader> header = readMemberHeader(input_)) {
      const std::uint64_t end = header->dataOffset + header->compressedSize;
      if (end > input_.size() || end < header->dataOffset) {
        throw ArchiveError(Result::kCorrupt, header->path + ": the archive is truncated");
      }
      // A member without a name cannot be placed. Some old writers produced such headers (folders
      // whose name was dropped, folders stored as empty files); nothing after one is read.
      if (header->path.empty() || (!header->hasName && header->method != "-lhd-")) break;
      extractMember(*header);
      input_.seek(end);
    }
    return finish();
  }

 private:
  void extractMember(const MemberHeader& header) {
    if (header.isSymlink()) {
      // A link to an absolute path would point into the extracting machine's own files; it is
      // not made, and that is no fault of the archive. Links that climb out are the sink's to
      // refuse.
      if (header.linkTarget.front() == '/') {
        ++absoluteLinksSkipped_;
      } else {
        sink_.createLink(entryFor(header, EntryType::kSymlink));
      }
    } else if (header.isDirectory()) {
      if (!header.path.empty()) sink_.createDirectory(entryFor(header, EntryType::kDirectory));
    } else if (!isSupportedMethod(header.method)) {
      sink_.fail(ArchiveError(Result::kUnsupported, header.path + ": compression method " +
                                                        header.method + " is not supported"));
    } else {
      extractFile(header);
    }
  }

  void extractFile(const MemberHeader& header) {
    MemberDecoder decoder(input_, header.method, header.compressedSize, header.originalSize);
    std::vector<std::uint8_t> block(kBlockSize);
    // The first bytes may be a MacBinary wrapper, to be known before the file is created.
    std::size_t pending = 0;
    std::uint64_t skip = 0;
    std::uint64_t keep = header.originalSize;
    if (header.osId == 'm' && header.originalSize >= kMacBinaryHeaderSize) {
      while (pending < kMacBinaryHeaderSize) {
        const std::size_t got =
            decoder.read(block.data() + pending, kMacBinaryHeaderSize - pending);
        if (got == 0) break;
        pending += got;
      }
      if (pending == kMacBinaryHeaderSize) {
        if (std::optional<std::uint64_t> length = macBinaryContentLength(block.data(), header)) {
          skip = kMacBinaryHeaderSize;
          keep = *length;
        }
      }
    }
    EntryInfo entry = entryFor(header, EntryType::kFile);
    entry.declaredSize = keep;
    std::unique_ptr<FileOutput> output = sink_.createFile(entry);
    if (!output) return;

    std::uint16_t crc = 0;
    std::uint64_t position = 0;  // in the decoded stream
    auto take = [&](const std::uint8_t* data, std::size_t size) {
      crc = crc16(crc, data, size);
      const std::uint64_t from = std::clamp(skip, position, position + size);
      const std::uint64_t to = std::clamp(skip + keep, position, position + size);
      if (to > from) output->write(data + (from - position), static_cast<std::size_t>(to - from));
      position += size;
    };
    take(block.data(), pending);
    while (const std::size_t got = decoder.read(block.data(), block.size()))
      take(block.data(), got);

    if (position != header.originalSize) {
      noteCorrupt(header.path + ": data ends after " + std::to_string(position) + " of " +
                  std::to_string(header.originalSize) + " bytes");
    } else if (crc != header.crc) {
      noteCorrupt(header.path + ": CRC error, the data is damaged");
    } else {
      output->commit();
    }
  }

  void noteCorrupt(const std::string& message) {
    sink_.fail(ArchiveError(Result::kCorrupt, message));
  }

  std::string finish() {
    std::string summary = sink_.finish();
    if (absoluteLinksSkipped_ > 0) {
      summary +=
          ", " + std::to_string(absoluteLinksSkipped_) + " link(s) to absolute paths not made";
    }
    return summary;
  }

  InputFile input_;
  ExtractionSink sink_;
  std::size_t absoluteLinksSkipped_ = 0;
};

}  // namespace

std::string extractArchive(const std::string& archivePath, const std::string& destination) {
  return ArchiveExtraction(archivePath, destination).run();
}

}  // namespace archivers::lzh
