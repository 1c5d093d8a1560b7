#include "zip/zip_directory.h"

#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "common/byte_order.h"
#include "common/dos_time.h"
#include "common/text_encoding.h"
#include "zip/zip_extra_fields.h"

namespace archivers::zip {

namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kMaxCommentSize = 0xFFFF;
constexpr std::uint32_t kPlaceholder32 = 0xFFFFFFFF;
constexpr std::uint16_t kPlaceholder16 = 0xFFFF;
// Encrypted, strongly encrypted, or with the directory itself encrypted.
constexpr std::uint16_t kEncryptionFlags = 1 << 0 | 1 << 6 | 1 << 13;
constexpr std::uint8_t kHostMsDos = 0;
constexpr std::uint8_t kHostUnix = 3;

struct EndRecord {
  std::uint64_t position = 0;  // of the record that follows the directory
  std::uint64_t entries = 0;
  std::uint64_t directorySize = 0;
  std::uint64_t directoryOffset = 0;  // as stored, without the prefix
  bool zip64 = false;
};

std::optional<std::uint64_t> findEndRecord(ArchiveInput& input, std::vector<std::uint8_t>& tail) {
  const std::uint64_t size = input.size();
  if (size < kEndSize) return std::nullopt;
  const std::size_t length =
      static_cast<std::size_t>(std::min<std::uint64_t>(size, kEndSize + kMaxCommentSize));
  tail.resize(length);
  const std::uint64_t tailStart = size - length;
  input.readExactAt(tailStart, tail.data(), length);
  for (std::size_t at = length - kEndSize + 1; at-- > 0;) {
    if (loadLe32(&tail[at]) == kEndSignature &&
        at + kEndSize + loadLe16(&tail[at + 20]) <= length) {
      return tailStart + at;
    }
  }
  return std::nullopt;
}

// The ZIP64 end record the locator before position points to: at its stated offset, or, in an
// archive with a prefix, right before the locator.
std::optional<EndRecord> readZip64End(ArchiveInput& input, std::uint64_t endPosition) {
  if (endPosition < kZip64LocatorSize + kZip64EndSize) return std::nullopt;
  std::uint8_t locator[kZip64LocatorSize];
  input.readExactAt(endPosition - kZip64LocatorSize, locator, sizeof locator);
  if (loadLe32(locator) != kZip64LocatorSignature || loadLe32(locator + 16) > 1)
    return std::nullopt;
  std::uint8_t record[kZip64EndSize];
  for (const std::uint64_t position :
       {loadLe64(locator + 8), endPosition - kZip64LocatorSize - kZip64EndSize}) {
    if (position > input.size() - kZip64EndSize) continue;
    input.readExactAt(position, record, sizeof record);
    if (loadLe32(record) != kZip64EndSignature) continue;
    if (loadLe32(record + 16) != 0 || loadLe32(record + 20) != 0) return std::nullopt;
    return EndRecord{position, loadLe64(record + 32), loadLe64(record + 40), loadLe64(record + 48),
                     true};
  }
  return std::nullopt;
}

std::optional<EndRecord> readEndRecord(ArchiveInput& input) {
  std::vector<std::uint8_t> tail;
  const std::optional<std::uint64_t> position = findEndRecord(input, tail);
  if (!position) return std::nullopt;
  std::uint8_t record[kEndSize];
  input.readExactAt(*position, record, sizeof record);
  if (loadLe16(record + 4) != 0 || loadLe16(record + 6) != 0) return std::nullopt;  // multi-disk
  const EndRecord end{*position, loadLe16(record + 10), loadLe32(record + 12),
                      loadLe32(record + 16)};
  if (end.entries == kPlaceholder16 || end.directorySize == kPlaceholder32 ||
      end.directoryOffset == kPlaceholder32) {
    return readZip64End(input, *position);
  }
  // Some writers add the ZIP64 records although no field overflows; theirs are the ones to read.
  if (std::optional<EndRecord> zip64 = readZip64End(input, *position)) return zip64;
  return end;
}

// Reads the directory front to back through a modest buffer.
class DirectoryReader {
 public:
  DirectoryReader(ArchiveInput& input, std::uint64_t start, std::uint64_t end)
      : input_(input), position_(start), end_(end) {}

  bool read(std::string& out, std::size_t count) {
    out.resize(count);
    std::size_t done = 0;
    while (done < count) {
      if (bufferAt_ == buffer_.size() && !refill()) return false;
      const std::size_t step = std::min(count - done, buffer_.size() - bufferAt_);
      std::copy_n(buffer_.begin() + static_cast<std::ptrdiff_t>(bufferAt_), step,
                  out.begin() + static_cast<std::ptrdiff_t>(done));
      bufferAt_ += step;
      done += step;
    }
    return true;
  }

 private:
  bool refill() {
    const std::uint64_t left = end_ - position_;
    if (left == 0) return false;
    buffer_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(left, 64 * 1024)));
    input_.readExactAt(position_, buffer_.data(), buffer_.size());
    position_ += buffer_.size();
    bufferAt_ = 0;
    return true;
  }

  ArchiveInput& input_;
  std::uint64_t position_;
  std::uint64_t end_;
  std::vector<char> buffer_;
  std::size_t bufferAt_ = 0;
};

// The type and permission bits as the general reader derives them from the attributes.
std::uint32_t modeOf(std::uint8_t host, std::uint32_t attributes, std::string_view name) {
  std::uint32_t mode = 0;
  if (host == kHostUnix) {
    mode = attributes >> 16;
    // zip records what it read from a pipe as a pipe; its data is an ordinary file's.
    if ((mode & S_IFMT) == S_IFIFO) mode = (mode & ~S_IFMT) | S_IFREG;
  } else if (host == kHostMsDos) {
    mode = (attributes & 0x10) != 0 ? S_IFDIR | 0775 : S_IFREG | 0664;
    if ((attributes & 0x01) != 0) mode &= 0555;  // read-only; this drops the type bits too
  }
  if ((mode & S_IFMT) != S_IFDIR) {
    if (name.ends_with('/')) {
      mode = (mode & ~S_IFMT) | S_IFDIR | 0111;
    } else if ((mode & S_IFMT) == 0) {
      mode |= S_IFREG;
    }
  }
  return mode;
}

const std::uint8_t* bytesOf(const std::string& text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

// The entry whose fixed part is header, read on from reader.
std::optional<ZipMember> readMember(DirectoryReader& reader, const std::string& header,
                                    std::uint64_t prefix, ZipNameDecoder& names) {
  const std::uint8_t* fixed = bytesOf(header);
  ZipMember member;
  const auto host = static_cast<std::uint8_t>(loadLe16(fixed + 4) >> 8);
  member.flags = loadLe16(fixed + 8);
  member.method = loadLe16(fixed + 10);
  const std::uint32_t dosStamp =
      static_cast<std::uint32_t>(loadLe16(fixed + 14)) << 16 | loadLe16(fixed + 12);
  member.crc = loadLe32(fixed + 16);
  member.storedCompressedSize = loadLe32(fixed + 20);
  member.storedSize = loadLe32(fixed + 24);
  const std::uint16_t nameLength = loadLe16(fixed + 28);
  const std::uint16_t extraLength = loadLe16(fixed + 30);
  const std::uint16_t commentLength = loadLe16(fixed + 32);
  const std::uint16_t disk = loadLe16(fixed + 34);
  const std::uint32_t attributes = loadLe32(fixed + 38);
  const std::uint32_t localOffset = loadLe32(fixed + 42);
  std::string extra, comment;
  if (!reader.read(member.storedName, nameLength) || !reader.read(extra, extraLength) ||
      !reader.read(comment, commentLength)) {
    return std::nullopt;
  }
  if ((member.flags & kEncryptionFlags) != 0 ||
      (member.method != kStored && member.method != kDeflated && member.method != kDeflate64) ||
      (disk != 0 && disk != kPlaceholder16)) {
    return std::nullopt;
  }
  const std::optional<ExtraFields> fields = parseExtraFields(
      extra, member.storedName,
      {member.storedSize == kPlaceholder32, member.storedCompressedSize == kPlaceholder32,
       localOffset == kPlaceholder32});
  if (!fields) return std::nullopt;
  member.size = fields->size.value_or(member.storedSize);
  member.compressedSize = fields->compressedSize.value_or(member.storedCompressedSize);
  member.localHeaderOffset = fields->localHeaderOffset.value_or(localOffset) + prefix;
  // The exact times first: NTFS (Windows writers), then Unix seconds, then the DOS time, which is
  // local time to two seconds.
  if (fields->ntfsMtime) {
    member.mtime = fields->ntfsMtime;
    member.timeSource = ZipMember::TimeSource::kNtfsField;
  } else if (fields->unixMtime) {
    member.mtime = fields->unixMtime;
    member.timeSource = ZipMember::TimeSource::kUnixField;
  } else {
    member.mtime = dosTimeToUnix(dosStamp);
  }
  // Names the writer did not flag are read the same way with or without the flag: valid UTF-8
  // stays, anything else is one legacy code page.
  member.name = withForwardSlashes(names.decode(fields->unicodeName.value_or(member.storedName)));
  member.unicodeField = fields->unicodeField;
  member.mode = modeOf(host, attributes, member.name);
  return member;
}

}  // namespace

std::optional<ZipDirectory> readZipDirectory(ArchiveInput& input) {
  const std::optional<EndRecord> end = readEndRecord(input);
  if (!end || end->directorySize > end->position) return std::nullopt;
  // A self-extracting program before the archive shifts every offset by its length.
  const std::uint64_t start = end->position - end->directorySize;
  if (start < end->directoryOffset) return std::nullopt;
  const std::uint64_t prefix = start - end->directoryOffset;
  ZipDirectory directory;
  directory.start = start;
  // Each entry takes at least its fixed part: a count beyond that cannot be reserved for.
  directory.members.reserve(
      static_cast<std::size_t>(std::min(end->entries, end->directorySize / kCentralSize)));
  // Every entry the directory holds is read, whatever the end record counts: trusting the count
  // would leave members out unseen. Bytes after the last entry that begin none are not read.
  DirectoryReader reader(input, start, end->position);
  std::string header;
  ZipNameDecoder names;
  while (reader.read(header, kCentralSize) && loadLe32(bytesOf(header)) == kCentralSignature) {
    std::optional<ZipMember> member = readMember(reader, header, prefix, names);
    if (!member) return std::nullopt;
    directory.members.push_back(std::move(*member));
  }
  // Writers without the ZIP64 records let the 16-bit count wrap past 65535 entries.
  const std::uint64_t held = directory.members.size();
  if (held != end->entries && (end->zip64 || (held & 0xFFFF) != end->entries)) {
    directory.statedEntries = end->entries;
  }
  return directory;
}

}  // namespace archivers::zip
