#include "lzh/lzh_writer.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "common/archive_error.h"
#include "common/archive_output.h"
#include "common/byte_order.h"
#include "common/crc.h"
#include "common/folder_walk.h"
#include "common/progress.h"
#include "common/text_encoding.h"
#include "common/utf8.h"
#include "lzh/lh5_encoder.h"

namespace archivers::lzh {
namespace {

// Compressed bytes kept in memory before the header goes out with placeholders: below this a
// member is written in one piece, past it the header is patched in place afterwards.
constexpr std::size_t kKeptBytes = 256 * 1024;
constexpr std::size_t kCopyChunk = 256 * 1024;

constexpr std::size_t kFixedHeaderBytes = 24;  // before the first extended header's size
constexpr std::size_t kMaxHeaderBytes = 0xFFFF;
constexpr std::size_t kHeaderCrcOffset = 27;  // extended header 0x00 comes first
constexpr std::uint64_t kMax32 = 0xFFFFFFFF;

// 'U': the header carries a Unix mode and time. Readers on Unix apply the mode whatever the id;
// Windows readers take names as CP932 whatever the id.
constexpr std::uint8_t kOsId = 'U';

constexpr std::uint8_t kHeaderCrc = 0x00;
constexpr std::uint8_t kFileName = 0x01;
constexpr std::uint8_t kFolderName = 0x02;
constexpr std::uint8_t kLargeSizes = 0x42;
constexpr std::uint8_t kUtf16FileName = 0x44;
constexpr std::uint8_t kUtf16FolderName = 0x45;
constexpr std::uint8_t kCodePage = 0x46;
constexpr std::uint8_t kUnixMode = 0x50;
constexpr std::uint8_t kUnixTime = 0x54;

constexpr std::uint32_t kCodePageCp932 = 932;
constexpr std::uint32_t kCodePageUtf8 = 65001;

// Names reach here as valid UTF-8 (the caller checks); anything else is passed over a byte at a
// time rather than read past the end.
void appendUtf16Le(std::vector<std::uint8_t>& out, std::string_view utf8) {
  while (!utf8.empty()) {
    char32_t codePoint = 0;
    const std::size_t length = decodeUtf8(utf8, codePoint);
    utf8.remove_prefix(length == 0 ? 1 : length);
    if (length == 0) continue;
    if (codePoint >= 0x10000) {
      appendLe16(out, static_cast<std::uint16_t>(0xD800 + ((codePoint - 0x10000) >> 10)));
      codePoint = 0xDC00 + ((codePoint - 0x10000) & 0x3FF);
    }
    appendLe16(out, static_cast<std::uint16_t>(codePoint));
  }
}

bool isAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

NameEncoding nameEncodingFor(const std::vector<WalkEntry>& entries) {
  const bool utf8 = std::any_of(entries.begin(), entries.end(), [](const WalkEntry& entry) {
    return !isAscii(entry.path) && isValidUtf8(entry.path) && !utf8ToCp932(entry.path);
  });
  return utf8 ? NameEncoding::kUtf8 : NameEncoding::kCp932;
}

// The name fields of a member. Names go out in CP932, which Japanese Windows LHA tools read
// them as, with extended header 0x46 saying so: libarchive converts from the code page it names
// and otherwise passes the bytes through. In an archive with a name CP932 cannot hold, every name
// goes out in UTF-8 with code page 65001, which keeps it whole for libarchive and for readers
// that pass bytes through to a UTF-8 system (lhasa); readers that guess one encoding for the
// whole archive (unar) would garble the CP932 ones. Every non-ASCII name also carries the UTF-16
// forms 0x44 and 0x45, which our reader and Unicode-aware Windows tools prefer over the code-page
// bytes.
struct StoredNames {
  std::string folder;  // 0xFF after each component
  std::string name;
  std::optional<std::uint32_t> codePage;
  std::vector<std::uint8_t> utf16Folder;  // 0xFFFF after each component
  std::vector<std::uint8_t> utf16Name;
  bool utf16 = false;
};

StoredNames storedNames(const WalkEntry& entry, NameEncoding encoding) {
  const std::string& path = entry.path;
  StoredNames stored;
  std::string bytes = path;
  stored.utf16 = !isAscii(path) && isValidUtf8(path);
  std::optional<std::string> cp932;
  if (stored.utf16 && encoding == NameEncoding::kCp932) cp932 = utf8ToCp932(path);
  if (cp932) {
    bytes = std::move(*cp932);
    stored.codePage = kCodePageCp932;
  } else if (stored.utf16 || encoding == NameEncoding::kUtf8) {
    stored.codePage = kCodePageUtf8;
  }
  // A folder's whole path is its folder name. '/' is never part of a CP932 character.
  const bool folder = entry.type == WalkEntryType::kFolder;
  const std::size_t split = folder ? bytes.size() : bytes.rfind('/') + 1;  // npos + 1 == 0
  stored.folder = bytes.substr(0, split);
  stored.name = bytes.substr(split);
  std::replace(stored.folder.begin(), stored.folder.end(), '/', '\xFF');
  if (folder && !stored.folder.empty()) stored.folder += '\xFF';
  if (stored.utf16) {
    const std::size_t pathSplit = folder ? path.size() : path.rfind('/') + 1;
    std::size_t start = 0;
    while (start < pathSplit) {
      std::size_t end = path.find('/', start);
      if (end == std::string::npos || end > pathSplit) end = pathSplit;
      appendUtf16Le(stored.utf16Folder, std::string_view(path).substr(start, end - start));
      appendLe16(stored.utf16Folder, 0xFFFF);
      start = end + 1;
    }
    appendUtf16Le(stored.utf16Name, std::string_view(path).substr(pathSplit));
  }
  return stored;
}

void addExtended(std::vector<std::uint8_t>& header, std::uint8_t type, const void* data,
                 std::size_t size) {
  appendLe16(header, static_cast<std::uint16_t>(std::min<std::size_t>(3 + size, 0xFFFF)));
  header.push_back(type);
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  header.insert(header.end(), bytes, bytes + size);
}

// Our reader and other tools split names at either, whatever header they stand in. The folders
// above were asked before, so the whole path holds one only when its last name does.
const char* unholdableInLzh(std::string_view path, WalkEntryType) {
  return path.find_first_of("\\\xFF") != std::string_view::npos
             ? "\\ or byte 0xFF in the name, a folder separator in LZH"
             : nullptr;
}

// Thrown by the sink once the compressed data reaches the file's own size.
struct NotSmaller {};

[[noreturn]] void changedWhilePacking(const std::string& path) {
  throw ArchiveError(Result::kCannotOpen, "cannot read, it changed while being packed", path);
}

// The file's bytes up to the size the walk saw; fewer is a change under our feet.
class FileSource : public ByteSource {
 public:
  FileSource(WalkFile& file, const WalkEntry& entry, FollowedCall& call)
      : file_(file), entry_(entry), call_(call), left_(entry.size) {}
  std::size_t read(std::uint8_t* data, std::size_t count) override {
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, left_));
    if (count == 0) return 0;
    const std::size_t got = file_.read(data, count);
    call_.advance(got);
    if (got == 0) changedWhilePacking(entry_.path);
    left_ -= got;
    return got;
  }

 private:
  WalkFile& file_;
  const WalkEntry& entry_;
  FollowedCall& call_;
  std::uint64_t left_;
};

// Receives the compressed data of one member. Small members stay in memory so that the header
// goes out finished together with them; larger ones stream after a header with placeholders.
class MemberSink : public ByteSink {
 public:
  MemberSink(ArchiveOutput& output, const WrittenHeader& header, std::uint64_t limit)
      : output_(output), header_(header), limit_(limit) {}

  void write(const std::uint8_t* data, std::size_t size) override {
    if (size >= limit_ - written_) throw NotSmaller{};
    written_ += size;
    if (!streaming_) {
      if (kept_.size() + size <= kKeptBytes) {
        kept_.insert(kept_.end(), data, data + size);
        return;
      }
      headerOffset_ = output_.size();
      output_.write(header_.bytes.data(), header_.bytes.size());
      output_.write(kept_.data(), kept_.size());
      kept_ = {};
      streaming_ = true;
    }
    output_.write(data, size);
  }

  bool streaming() const { return streaming_; }
  std::uint64_t headerOffset() const { return headerOffset_; }
  std::uint64_t written() const { return written_; }
  const std::vector<std::uint8_t>& kept() const { return kept_; }

 private:
  ArchiveOutput& output_;
  const WrittenHeader& header_;
  std::uint64_t limit_;
  std::uint64_t written_ = 0;
  bool streaming_ = false;
  std::uint64_t headerOffset_ = 0;
  std::vector<std::uint8_t> kept_;
};

class ArchiveWriter {
 public:
  ArchiveWriter(ArchiveOutput& output, FolderWalk& walk, NameEncoding encoding, FollowedCall& call)
      : output_(output), walk_(walk), encoding_(encoding), call_(call) {}

  void add(const WalkEntry& entry) {
    WrittenHeader header = startHeader(entry, encoding_);
    if (entry.type == WalkEntryType::kFolder) {
      ++folders_;
      finishHeader(header, "-lhd-", 0, 0, 0);
      output_.write(header.bytes.data(), header.bytes.size());
      return;
    }
    ++files_;
    if (entry.size == 0) {
      finishHeader(header, "-lh0-", 0, 0, 0);
      output_.write(header.bytes.data(), header.bytes.size());
      return;
    }
    WalkFile file = walk_.open(entry);
    FileSource source(file, entry, call_);
    MemberSink sink(output_, header, entry.size);
    try {
      const Lh5Result result = encodeLh5(source, sink);
      finishHeader(header, "-lh5-", result.compressedSize, entry.size, result.crc);
      if (sink.streaming()) {
        output_.writeAt(sink.headerOffset(), header.bytes.data(), header.bytes.size());
      } else {
        output_.write(header.bytes.data(), header.bytes.size());
        output_.write(sink.kept().data(), sink.kept().size());
      }
    } catch (const NotSmaller&) {
      store(entry, file, header, sink);
    }
  }

  std::size_t files() const { return files_; }
  std::size_t folders() const { return folders_; }

 private:
  // Stores the file as it is, reading it again from the start. Whatever compressed bytes already
  // went out (never more than the file's size) are overwritten.
  void store(const WalkEntry& entry, WalkFile& file, WrittenHeader& header, MemberSink& sink) {
    std::uint64_t headerOffset = output_.size();
    if (sink.streaming()) {
      headerOffset = sink.headerOffset();
    } else {
      output_.write(header.bytes.data(), header.bytes.size());
    }
    const std::uint64_t dataOffset = headerOffset + header.bytes.size();
    std::uint64_t overwritable = sink.streaming() ? sink.written() : 0;
    std::vector<std::uint8_t> chunk(
        static_cast<std::size_t>(std::min<std::uint64_t>(kCopyChunk, entry.size)));
    std::uint16_t crc = 0;
    for (std::uint64_t done = 0; done < entry.size;) {
      const std::size_t wanted =
          static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), entry.size - done));
      // Counted once already, when the file was compressed.
      const std::size_t size = file.readAt(chunk.data(), wanted, done);
      if (size == 0) changedWhilePacking(entry.path);
      crc = crc16(crc, chunk.data(), size);
      const std::size_t over =
          static_cast<std::size_t>(std::min<std::uint64_t>(size, overwritable));
      if (over > 0) output_.writeAt(dataOffset + done, chunk.data(), over);
      if (over < size) output_.write(chunk.data() + over, size - over);
      overwritable -= over;
      done += size;
    }
    finishHeader(header, "-lh0-", entry.size, entry.size, crc);
    output_.writeAt(headerOffset, header.bytes.data(), header.bytes.size());
  }

  ArchiveOutput& output_;
  FolderWalk& walk_;
  NameEncoding encoding_;
  FollowedCall& call_;
  std::size_t files_ = 0;
  std::size_t folders_ = 0;
};

}  // namespace

WrittenHeader startHeader(const WalkEntry& entry, NameEncoding encoding) {
  WrittenHeader header;
  std::vector<std::uint8_t>& bytes = header.bytes;
  bytes.resize(kFixedHeaderBytes);
  std::memcpy(&bytes[2], "-lh0-", 5);
  std::uint8_t mtime[4];
  storeLe32(mtime, static_cast<std::uint32_t>(std::clamp<std::int64_t>(entry.mtime, 0, kMax32)));
  std::memcpy(&bytes[15], mtime, sizeof mtime);
  bytes[19] = 0x20;
  bytes[20] = 2;
  bytes[23] = kOsId;

  const std::uint8_t crcPlaceholder[2] = {0, 0};
  addExtended(bytes, kHeaderCrc, crcPlaceholder, 2);
  const StoredNames names = storedNames(entry, encoding);
  addExtended(bytes, kFileName, names.name.data(), names.name.size());
  if (!names.folder.empty())
    addExtended(bytes, kFolderName, names.folder.data(), names.folder.size());
  if (entry.size > kMax32) {
    const std::uint8_t sizes[16] = {};
    addExtended(bytes, kLargeSizes, sizes, sizeof sizes);
    header.largeSizesAt = bytes.size() - sizeof sizes;
  }
  if (names.codePage) {
    std::vector<std::uint8_t> codePage;
    appendLe32(codePage, *names.codePage);
    addExtended(bytes, kCodePage, codePage.data(), codePage.size());
  }
  if (names.utf16) {
    addExtended(bytes, kUtf16FileName, names.utf16Name.data(), names.utf16Name.size());
    if (!names.utf16Folder.empty()) {
      addExtended(bytes, kUtf16FolderName, names.utf16Folder.data(), names.utf16Folder.size());
    }
  }
  // Every mode is stored: without one, readers differ (0600, or 0666 and 0777 for root).
  const bool folder = entry.type == WalkEntryType::kFolder;
  std::uint8_t mode[2];
  storeLe16(mode, static_cast<std::uint16_t>((folder ? 0040000 : 0100000) | (entry.mode & 07777)));
  addExtended(bytes, kUnixMode, mode, sizeof mode);
  // A header size with a zero low byte reads as the end of the archive to some readers; the time
  // once more, which every reader knows, moves it off.
  if (((bytes.size() + 2) & 0xFF) == 0) addExtended(bytes, kUnixTime, mtime, sizeof mtime);
  appendLe16(bytes, 0);
  if (bytes.size() > kMaxHeaderBytes) {
    throw ArchiveError(Result::kUnsupported,
                       "name too long for an LZH header (64 KiB at most): " + entry.path);
  }
  storeLe16(bytes.data(), static_cast<std::uint16_t>(bytes.size()));
  return header;
}

void finishHeader(WrittenHeader& header, std::string_view method, std::uint64_t compressedSize,
                  std::uint64_t originalSize, std::uint16_t crc) {
  std::vector<std::uint8_t>& bytes = header.bytes;
  std::memcpy(&bytes[2], method.data(), 5);
  storeLe32(bytes.data() + 7, static_cast<std::uint32_t>(std::min(compressedSize, kMax32)));
  storeLe32(bytes.data() + 11, static_cast<std::uint32_t>(std::min(originalSize, kMax32)));
  storeLe16(bytes.data() + 21, crc);
  if (header.largeSizesAt != 0) {
    storeLe64(bytes.data() + header.largeSizesAt, compressedSize);
    storeLe64(bytes.data() + header.largeSizesAt + 8, originalSize);
  }
  storeLe16(bytes.data() + kHeaderCrcOffset, 0);
  storeLe16(bytes.data() + kHeaderCrcOffset, crc16(0, bytes.data(), bytes.size()));
}

Outcome writeArchive(const std::string& destination, bool recursive, FollowedCall& call) {
  ArchiveOutput output(destination, call);
  FolderWalk walk(output.ownFiles(), recursive, call, unholdableInLzh);
  // Every name is known before the first header goes out: one that CP932 cannot hold puts all of
  // them in UTF-8.
  std::vector<WalkEntry> entries;
  std::uint64_t totalBytes = 0;
  walk.walk([&](const WalkEntry& entry) {
    entries.push_back(entry);
    totalBytes += entry.size;
  });
  call.setTotal(totalBytes);
  ArchiveWriter writer(output, walk, nameEncodingFor(entries), call);
  for (const WalkEntry& entry : entries) writer.add(entry);
  const std::uint8_t endMark = 0;
  output.write(&endMark, 1);
  output.commit();
  return output.summary(writer.files(), writer.folders(), walk.skipped());
}

}  // namespace archivers::lzh
