#include "lzh/lzh_extractor.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "common/archive_error.h"
#include "common/extraction_driver.h"
#include "common/extraction_sink.h"
#include "common/input_file.h"
#include "lzh/lzh_header.h"
#include "lzh/lzh_macbinary.h"
#include "lzh/lzh_member_decoder.h"

namespace archivers::lzh {
namespace {

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

// Where a member's decoded bytes go. The first bytes may be a MacBinary wrapper, to be known
// before the file is created: such a member's bytes are held until the wrapper can be judged.
class MemberOutput : public ByteSink {
 public:
  MemberOutput(ExtractionSink& sink, const MemberHeader& header)
      : sink_(sink),
        header_(header),
        keep_(header.originalSize),
        waiting_(header.osId == 'm' && header.originalSize >= kMacBinaryHeaderSize) {}

  bool waitsForMacBinary() const { return waiting_; }

  // Creates the file; false when the sink refused it.
  bool open() {
    if (waiting_) {
      waiting_ = false;
      if (pending_.size() == kMacBinaryHeaderSize) {
        if (std::optional<std::uint64_t> length =
                macBinaryContentLength(pending_.data(), header_)) {
          skip_ = kMacBinaryHeaderSize;
          keep_ = *length;
        }
      }
    }
    EntryInfo entry = entryFor(header_, EntryType::kFile);
    entry.declaredSize = keep_;
    output_ = sink_.createFile(entry);
    if (!output_) return false;
    std::vector<std::uint8_t> held;
    held.swap(pending_);
    pass(held.data(), held.size());
    return true;
  }

  void write(const std::uint8_t* data, std::size_t size) override {
    if (waiting_) {
      const std::size_t take = std::min(size, kMacBinaryHeaderSize - pending_.size());
      pending_.insert(pending_.end(), data, data + take);
      data += take;
      size -= take;
      if (pending_.size() < kMacBinaryHeaderSize) return;
      if (!open()) {
        refused_ = true;
        return;
      }
    }
    if (!refused_) pass(data, size);
  }

  bool refused() const { return refused_; }
  std::uint64_t decoded() const { return position_; }
  void commit() {
    if (output_) output_->commit();
  }

 private:
  void pass(const std::uint8_t* data, std::size_t size) {
    const std::uint64_t from = std::clamp(skip_, position_, position_ + size);
    const std::uint64_t to = std::clamp(skip_ + keep_, position_, position_ + size);
    if (to > from) output_->write(data + (from - position_), static_cast<std::size_t>(to - from));
    position_ += size;
  }

  ExtractionSink& sink_;
  const MemberHeader& header_;
  std::vector<std::uint8_t> pending_;
  std::unique_ptr<FileOutput> output_;
  std::uint64_t position_ = 0;  // in the decoded stream
  std::uint64_t skip_ = 0;
  std::uint64_t keep_;
  bool waiting_;
  bool refused_ = false;
};

// A member's decoding must give every byte its header states, with the stated CRC.
void checkDecoded(std::uint64_t decoded, std::uint64_t originalSize, std::uint16_t crc,
                  std::uint16_t statedCrc) {
  if (decoded != originalSize) {
    throw ArchiveError(Result::kCorrupt, "data ends after " + std::to_string(decoded) + " of " +
                                             std::to_string(originalSize) + " bytes");
  }
  if (crc != statedCrc) throw ArchiveError(Result::kCorrupt, "CRC error, the data is damaged");
}

class ArchiveExtraction {
 public:
  ArchiveExtraction(ArchiveInput& input, ExtractionSink& sink) : input_(input), sink_(sink) {}

  void run() {
    headerOffset_ = findFirstHeader(input_);
    input_.seek(headerOffset_);
    // A damaged first header means this is no archive to read.
    std::optional<MemberHeader> header = readMemberHeader(input_);
    while (header) {
      const std::uint64_t end = header->dataOffset + header->compressedSize;
      if (end > input_.size() || end < header->dataOffset) {
        noteCorrupt("the archive is truncated", header->path);
        header = resynchronise(header->dataOffset);
        continue;
      }
      if (header->hasName || (header->isDirectory() && !header->path.empty())) {
        guardMember(sink_, header->path, [&] { extractMember(*header); });
      } else if (header->originalSize > 0) {
        noteCorrupt(damagedHeader("damaged member header: a member with data has no name"));
      } else if (!header->path.empty()) {
        // Some old writers store an empty folder as an empty member with only a folder name.
        sink().createDirectory(entryFor(*header, EntryType::kDirectory));
      } else {
        // An empty member with neither name nor folder: old level-0 writers' folders. Like the
        // reference reader, take it as the end of the archive.
        break;
      }
      if (!header->path.empty()) lastName_ = header->path;
      input_.seek(end);
      header = nextHeader();
    }
  }

 private:
  ExtractionSink& sink() { return sink_; }

  std::string damagedHeader(const std::string& reason) const {
    return reason + " at offset " + std::to_string(headerOffset_) +
           (lastName_.empty() ? "" : ", after: " + lastName_);
  }

  // The header at the current position, after a member. A damaged one is reported and the
  // members after it are searched for.
  std::optional<MemberHeader> nextHeader() {
    headerOffset_ = input_.tell();
    try {
      return readMemberHeader(input_);
    } catch (const ArchiveError& error) {
      if (endsExtraction(error)) throw;
      noteCorrupt(damagedHeader(error.what()));
    }
    return resynchronise(headerOffset_ + 1);
  }

  std::optional<MemberHeader> resynchronise(std::uint64_t from) {
    const std::optional<std::uint64_t> found = scan_.findNext(input_, from);
    if (!found) return std::nullopt;
    headerOffset_ = *found;
    input_.seek(headerOffset_);
    return readMemberHeader(input_);
  }

  void extractMember(const MemberHeader& header) {
    if (header.isSymlink()) {
      sink().createLink(entryFor(header, EntryType::kSymlink));
    } else if (header.isDirectory()) {
      sink().createDirectory(entryFor(header, EntryType::kDirectory));
    } else if (!isSupportedMethod(header.method)) {
      throw ArchiveError(Result::kUnsupported,
                         "compression method " + header.method + " is not supported");
    } else {
      extractFile(header);
    }
  }

  void extractFile(const MemberHeader& header) {
    MemberOutput output(sink(), header);
    if (!output.waitsForMacBinary() &&
        sink().decodesLater(header.compressedSize, header.originalSize)) {
      sink().extractLater(entryFor(header, EntryType::kFile),
                          input_.readBytes(static_cast<std::size_t>(header.compressedSize)),
                          [method = header.method, size = header.originalSize, crc = header.crc](
                              std::span<const std::uint8_t> stored, FileOutput& file) {
                            MemorySource source(stored.data(), stored.size());
                            MemberDecoder decoder(source, method, size);
                            const std::uint16_t decodedCrc = decoder.decodeTo(file);
                            checkDecoded(file.written(), size, decodedCrc, crc);
                          });
      return;
    }
    BoundedSource stored(input_, header.compressedSize);
    MemberDecoder decoder(stored, header.method, header.originalSize);
    if (!output.waitsForMacBinary() && !output.open()) return;
    const std::uint16_t crc = decoder.decodeTo(output);
    if (output.refused() || (output.waitsForMacBinary() && !output.open())) return;
    checkDecoded(output.decoded(), header.originalSize, crc, header.crc);
    output.commit();
  }

  void noteCorrupt(const std::string& message) {
    sink().fail(ArchiveError(Result::kCorrupt, message));
  }
  void noteCorrupt(const std::string& reason, const std::string& path) {
    sink().fail(Result::kCorrupt, reason, path);
  }

  InputFile input_;
  ExtractionSink& sink_;
  HeaderScan scan_;
  std::uint64_t headerOffset_ = 0;  // of the member header read last
  std::string lastName_;            // of the last member with a name
};

}  // namespace

void readLzhArchive(ArchiveInput& input, ExtractionSink& sink) {
  ArchiveExtraction(input, sink).run();
}

}  // namespace archivers::lzh
