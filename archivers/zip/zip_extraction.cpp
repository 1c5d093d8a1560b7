#include "zip/zip_extraction.h"

#include <isa-l/crc.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "common/byte_order.h"
#include "common/extraction_driver.h"
#include "common/inflate_decoder.h"
#include "common/isal_inflater.h"
#include "common/progress.h"
#include "common/text_encoding.h"
#include "libarchive/libarchive_extraction.h"
#include "zip/zip_extra_fields.h"

namespace archivers::zip {

namespace {

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::size_t kLocalSize = 30;
constexpr std::uint32_t kPlaceholder32 = 0xFFFFFFFF;
constexpr std::uint16_t kFlagEncrypted = 1 << 0;
// A writer that wraps a stored member's size at 32 bits states it off by a multiple of this.
constexpr std::uint64_t kSizeWrap = std::uint64_t{1} << 32;
// Input is read and output handed on in pieces of this size, whatever the member's size.
constexpr std::size_t kChunkSize = 256 * 1024;
// Room for the local header's extra fields, which must be in the buffer with the header.
constexpr std::size_t kLocalExtraAllowance = 512;
// A link's text is held in memory; no file system takes one near this long.
constexpr std::uint64_t kMaxLinkSize = 64 * 1024;

// Collects a link's text.
class TextSink : public ByteSink {
 public:
  void write(const std::uint8_t* data, std::size_t size) override {
    text.append(reinterpret_cast<const char*>(data), size);
  }
  std::string text;
};

// Hands a member's decoded data on to output, never past its stated size, and checks at its end
// that it came to the stated length and CRC.
class CheckedDelivery {
 public:
  CheckedDelivery(std::uint64_t size, ByteSink& output) : size_(size), output_(output) {}
  void operator()(const std::uint8_t* data, std::size_t size) {
    if (size > size_ - written_) {
      throw ArchiveError(Result::kCorrupt, "data longer than its stated size");
    }
    crc_ = crc32_gzip_refl(crc_, data, size);
    output_.write(data, size);
    written_ += size;
  }
  // Returns the length.
  std::uint64_t check(std::uint64_t expected, std::uint32_t crc) const {
    if (written_ != expected) throw ArchiveError(Result::kCorrupt, "data shorter than stated");
    if (crc_ != crc) throw ArchiveError(Result::kCorrupt, "CRC mismatch");
    return written_;
  }

 private:
  std::uint64_t size_;
  ByteSink& output_;
  std::uint64_t written_ = 0;
  std::uint32_t crc_ = 0;
};

// Inflates the stream that nextInput gives in pieces (empty at its end) through buffer.
template <typename NextInput>
void inflateStream(IsalInflater& inflater, NextInput&& nextInput, std::span<std::uint8_t> buffer,
                   CheckedDelivery& deliver) {
  inflater.reset();
  for (;;) {
    if (inflater.inputLeft() == 0) {
      const auto [data, size] = nextInput();
      if (size == 0) break;
      inflater.setInput(data, size);
    }
    const std::size_t made = inflater.inflate(buffer.data(), buffer.size());
    if (made > 0) deliver(buffer.data(), made);
    if (inflater.finished()) break;
  }
  // Output still held inside the decoder is drained before the end is judged.
  while (!inflater.finished()) {
    const std::size_t made = inflater.inflate(buffer.data(), buffer.size());
    if (made == 0) throw ArchiveError(Result::kCorrupt, "deflate data is truncated");
    deliver(buffer.data(), made);
  }
}

// A deflated member read whole, inflated on the landing thread it is handed to.
void inflateStored(std::span<const std::uint8_t> stored, std::uint64_t size, std::uint32_t crc,
                   FileOutput& output) {
  IsalInflater inflater(IsalInflater::Wrapper::kRaw);
  const auto bufferSize = static_cast<std::size_t>(std::clamp<std::uint64_t>(size, 1, kChunkSize));
  const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(bufferSize);
  CheckedDelivery deliver(size, output);
  bool given = false;
  inflateStream(
      inflater,
      [&] {
        const std::size_t left = given ? 0 : stored.size();
        given = true;
        return std::pair(stored.data(), left);
      },
      std::span(buffer.get(), bufferSize), deliver);
  deliver.check(size, crc);
}

class MemberExtraction {
 public:
  MemberExtraction(ArchiveInput& input, const ZipDirectory& directory, ExtractionSink& sink)
      : input_(input),
        directory_(directory),
        sink_(sink),
        inflater_(IsalInflater::Wrapper::kRaw),
        inputBuffer_(std::make_unique_for_overwrite<std::uint8_t[]>(kChunkSize)),
        outputBuffer_(std::make_unique_for_overwrite<std::uint8_t[]>(kChunkSize)) {}

  void run() {
    if (const std::optional<std::uint64_t> stated = directory_.statedEntries) {
      sink_.fail(ArchiveError(Result::kCorrupt, "entry count " + std::to_string(*stated) +
                                                    " in the end record, " +
                                                    std::to_string(directory_.members.size()) +
                                                    " in the central directory"));
    }
    for (const ZipMember& member : directory_.members) {
      guardMember(sink_, member.name, [&] { extract(member); });
    }
  }

 private:
  void extract(const ZipMember& member) {
    const std::uint32_t type = member.mode & S_IFMT;
    if (type != S_IFREG && type != S_IFDIR && type != S_IFLNK) {
      sink_.refuse(member.name, "not a file, folder or link");
      return;
    }
    EntryInfo info;
    info.mtime = member.mtime;
    openData(member, info);
    // Stored data is its own output: a size beyond it would be made up of zeros.
    if (member.method == kStored && member.size != member.compressedSize &&
        (member.size < member.compressedSize ||
         (member.size - member.compressedSize) % kSizeWrap != 0)) {
      throw ArchiveError(Result::kCorrupt, "stored member's sizes disagree");
    }
    info.declaredSize = member.size;
    if (const std::uint32_t permissions = member.mode & 07777; permissions != 0) {
      info.mode = permissions;
    }
    if (type == S_IFDIR) {
      info.type = EntryType::kDirectory;
      sink_.createDirectory(info);
    } else if (type == S_IFLNK) {
      if (member.size > kMaxLinkSize) throw ArchiveError(Result::kCorrupt, "link text too long");
      TextSink text;
      copyData(member, text);
      info.type = EntryType::kSymlink;
      info.linkTarget = decodeZipName(text.text);
      sink_.createLink(info);
    } else {
      if (member.method == kDeflated && member.compressedSize > 0 &&
          sink_.decodesLater(member.compressedSize, member.size)) {
        sink_.extractLater(info, readStored(),
                           [size = member.size, crc = member.crc](
                               std::span<const std::uint8_t> stored, FileOutput& output) {
                             inflateStored(stored, size, crc, output);
                           });
        return;
      }
      std::unique_ptr<FileOutput> output = sink_.createFile(info);
      if (!output) return;  // refused; the sink reports it
      const std::uint64_t written = copyData(member, *output);
      // Stored data is as long as its compressed size. Some writers state the other size wrong
      // (off by a multiple of 4 GiB); as the libarchive path does, the file is then made that
      // long with a hole.
      if (written < member.size) output->skip(member.size - written);
      output->commit();
    }
  }

  // Checks the member's local header against the directory and its place in the archive, and
  // reads the header with the start of the data. Gives info the member's name, and the local
  // header's time where that is more exact than the directory's.
  void openData(const ZipMember& member, EntryInfo& info) {
    const std::uint64_t end = directory_.start;
    if (member.localHeaderOffset >= end || end - member.localHeaderOffset < kLocalSize) {
      throw ArchiveError(Result::kCorrupt, "local header lies outside the archive");
    }
    const std::uint64_t room = end - member.localHeaderOffset;
    const std::uint64_t headerRoom =
        std::min<std::uint64_t>(room, kLocalSize + member.storedName.size() + kLocalExtraAllowance);
    if (member.localHeaderOffset < windowStart_ ||
        member.localHeaderOffset + headerRoom > windowStart_ + windowSize_) {
      // Small members lie one after another: one read takes in several.
      windowStart_ = member.localHeaderOffset;
      windowSize_ = static_cast<std::size_t>(std::min<std::uint64_t>(room, kChunkSize));
      input_.readExactAt(windowStart_, inputBuffer_.get(), windowSize_);
    }
    const auto at = static_cast<std::size_t>(member.localHeaderOffset - windowStart_);
    const std::uint8_t* header = inputBuffer_.get() + at;
    const std::size_t available = windowSize_ - at;
    if (loadLe32(header) != kLocalSignature) {
      throw ArchiveError(Result::kCorrupt, "no local header where the directory points");
    }
    const std::uint16_t nameLength = loadLe16(header + 26);
    const std::uint64_t dataOffset = kLocalSize + nameLength + loadLe16(header + 28);
    if (dataOffset > room || room - dataOffset < member.compressedSize) {
      throw ArchiveError(Result::kCorrupt, "member data runs past the central directory");
    }
    std::optional<std::string> name = agreedName(member, header, nameLength, dataOffset, available);
    if (!name || !localFieldsAgree(member, header)) {
      throw ArchiveError(Result::kCorrupt, "local header disagrees with the central directory");
    }
    const std::uint64_t start = member.localHeaderOffset;
    const std::uint64_t stop = start + dataOffset + member.compressedSize;
    if (overlapsClaimed(start, stop)) {
      throw ArchiveError(Result::kCorrupt, "overlaps another member's data");
    }
    claimed_.emplace(start, stop);
    dataPosition_ = start + dataOffset;
    dataLeft_ = member.compressedSize;
    if (dataOffset <= available) {
      takeLocalTime(member, header, nameLength, dataOffset, info);
      // Data already in the window counts as read.
      bufferAt_ = at + static_cast<std::size_t>(dataOffset);
      const auto buffered =
          static_cast<std::size_t>(std::min<std::uint64_t>(available - dataOffset, dataLeft_));
      fill_ = bufferAt_ + buffered;
      dataPosition_ += buffered;
    } else {
      bufferAt_ = fill_ = 0;  // the extra fields outgrew the window
    }
    info.path = std::move(*name);
  }

  // Some writers keep an exact time in the local header alone; the same order of fields holds.
  static void takeLocalTime(const ZipMember& member, const std::uint8_t* header,
                            std::uint16_t nameLength, std::uint64_t dataOffset, EntryInfo& info) {
    using Source = ZipMember::TimeSource;
    if (member.timeSource == Source::kNtfsField) return;
    const std::string_view extra(reinterpret_cast<const char*>(header) + kLocalSize + nameLength,
                                 static_cast<std::size_t>(dataOffset) - kLocalSize - nameLength);
    const std::optional<ExtraFields> fields = parseExtraFields(extra, {}, {});
    if (!fields) return;
    if (fields->ntfsMtime) {
      info.mtime = fields->ntfsMtime;
    } else if (fields->unixMtime && member.timeSource == Source::kDos) {
      info.mtime = fields->unixMtime;
    }
  }

  // The member's name when the local header gives the directory's. Some writers store a name
  // in a legacy code page in the directory and another in the local header, but the same
  // Unicode path field in both: that field vouches for one member, named as the local header
  // has it, as a reader that streams local headers would name it.
  std::optional<std::string> agreedName(const ZipMember& member, const std::uint8_t* header,
                                        std::uint16_t nameLength, std::uint64_t dataOffset,
                                        std::size_t available) const {
    if (kLocalSize + nameLength > available) return std::nullopt;
    const std::string_view localName(reinterpret_cast<const char*>(header) + kLocalSize,
                                     nameLength);
    if (localName == member.storedName) return member.name;
    if (!member.unicodeField || dataOffset > available) return std::nullopt;
    const std::string_view localExtra(
        localName.data() + nameLength,
        static_cast<std::size_t>(dataOffset) - kLocalSize - nameLength);
    const std::optional<ExtraFields> fields = parseExtraFields(localExtra, localName, {});
    if (!fields || fields->unicodeField != member.unicodeField) return std::nullopt;
    return withForwardSlashes(decodeZipName(fields->unicodeName.value_or(std::string(localName))));
  }

  bool localFieldsAgree(const ZipMember& member, const std::uint8_t* header) const {
    // The directory's method and encryption decide how the data is read; a local header that
    // says otherwise makes the member's data mean two things.
    const std::uint16_t flags = loadLe16(header + 6);
    if (loadLe16(header + 8) != member.method ||
        (flags & kFlagEncrypted) != (member.flags & kFlagEncrypted)) {
      return false;
    }
    // Under a data descriptor the local fields are zeros; 0xFFFFFFFF stands for a ZIP64 value.
    if ((flags & kFlagDataDescriptor) != 0) return true;
    const std::uint32_t crc = loadLe32(header + 14);
    const std::uint32_t compressedSize = loadLe32(header + 18);
    const std::uint32_t size = loadLe32(header + 22);
    return crc == member.crc &&
           (compressedSize == kPlaceholder32 || compressedSize == member.compressedSize) &&
           (size == kPlaceholder32 || size == member.size);
  }

  bool overlapsClaimed(std::uint64_t start, std::uint64_t stop) const {
    const auto after = claimed_.lower_bound(start);
    if (after != claimed_.end() && after->first < stop) return true;
    return after != claimed_.begin() && std::prev(after)->second > start;
  }

  // The next piece of the member's stored data, empty at its end.
  std::pair<const std::uint8_t*, std::size_t> nextInput() {
    if (bufferAt_ == fill_) {
      const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(dataLeft_, kChunkSize));
      if (count == 0) return {nullptr, 0};
      input_.readExactAt(dataPosition_, inputBuffer_.get(), count);
      windowStart_ = dataPosition_;
      windowSize_ = count;
      dataPosition_ += count;
      bufferAt_ = 0;
      fill_ = count;
    }
    const std::size_t size = fill_ - bufferAt_;
    const std::uint8_t* data = inputBuffer_.get() + bufferAt_;
    dataLeft_ -= size;
    bufferAt_ = fill_;
    return {data, size};
  }

  // The member's stored data, whole: what the window holds, then the rest straight from the
  // archive rather than through the window.
  std::vector<std::uint8_t> readStored() {
    std::vector<std::uint8_t> stored(static_cast<std::size_t>(dataLeft_));
    const std::size_t buffered = fill_ - bufferAt_;
    std::memcpy(stored.data(), inputBuffer_.get() + bufferAt_, buffered);
    if (stored.size() > buffered) {
      input_.readExactAt(dataPosition_, stored.data() + buffered, stored.size() - buffered);
    }
    dataPosition_ += stored.size() - buffered;
    bufferAt_ = fill_;
    dataLeft_ = 0;
    return stored;
  }

  // Hands the member's data to output, checked against its CRC; returns its length.
  std::uint64_t copyData(const ZipMember& member, ByteSink& output) {
    CheckedDelivery deliver(member.size, output);
    if (member.method == kStored) {
      for (auto [data, size] = nextInput(); size > 0; std::tie(data, size) = nextInput()) {
        deliver(data, size);
      }
    } else if (member.compressedSize == 0 && member.size == 0) {
      // An empty member may have no stream at all.
    } else if (member.method == kDeflate64) {
      // ISA-L has no Deflate64; our own decoder reads it as fast.
      decoder_.decode(
          InflateDecoder::Variant::kDeflate64,
          [&] {
            const auto [data, size] = nextInput();
            return std::span<const std::uint8_t>(data, size);
          },
          [&](const std::uint8_t* data, std::size_t size) { deliver(data, size); });
    } else {
      inflateStream(
          inflater_, [&] { return nextInput(); }, std::span(outputBuffer_.get(), kChunkSize),
          deliver);
    }
    return deliver.check(member.method == kStored ? member.compressedSize : member.size,
                         member.crc);
  }

  ArchiveInput& input_;
  const ZipDirectory& directory_;
  ExtractionSink& sink_;
  IsalInflater inflater_;
  InflateDecoder decoder_;
  // Left uninitialised: a small archive touches only the pages it uses.
  std::unique_ptr<std::uint8_t[]> inputBuffer_;
  std::unique_ptr<std::uint8_t[]> outputBuffer_;
  std::uint64_t windowStart_ = 0;  // where in the archive the buffer's bytes come from
  std::size_t windowSize_ = 0;
  std::size_t bufferAt_ = 0;  // the member's data still unread in the buffer: [bufferAt_, fill_)
  std::size_t fill_ = 0;
  std::uint64_t dataPosition_ = 0;  // in the archive, of the data after the buffer's
  std::uint64_t dataLeft_ = 0;      // stored bytes of the member not yet handed out
  std::map<std::uint64_t, std::uint64_t> claimed_;  // start and end of members read so far
};

}  // namespace

void extractZipMembers(ArchiveInput& input, const ZipDirectory& directory, ExtractionSink& sink) {
  MemberExtraction(input, directory, sink).run();
}

void readZipArchive(ArchiveInput& input, ExtractionSink& sink) {
  if (const std::optional<ZipDirectory> directory = readZipDirectory(input)) {
    extractZipMembers(input, *directory, sink);
  } else {
    readWithLibarchive(input, sink, ArchiveKind::kZip);
  }
}

}  // namespace archivers::zip
