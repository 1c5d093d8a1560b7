#include "cab/cabinet_writer.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <vector>

#include "cab/block_checksum.h"
#include "cab/block_compressor.h"
#include "common/archive_error.h"
#include "common/archive_output.h"
#include "common/byte_order.h"
#include "common/dos_time.h"
#include "common/folder_walk.h"
#include "common/text_encoding.h"

namespace archivers::cab {
namespace {

constexpr std::size_t kMaxFiles = 0xFFFF;
// A folder holds at most 65,535 blocks; its uncompressed size and a member's offset in it must
// fit in 31 bits. Both come to this.
constexpr std::uint64_t kMaxFolderBytes = 0xFFFFull * kBlockBytes;
constexpr std::uint64_t kMaxCabinetBytes = 0xFFFFFFFFull;
constexpr std::size_t kMaxNameBytes = 255;  // the name and its terminating NUL in 256 bytes
constexpr std::size_t kHeaderBytes = 36;
constexpr std::size_t kFolderEntryBytes = 8;
constexpr std::size_t kDataHeaderBytes = 8;

constexpr std::uint16_t kReadOnly = 0x01;
constexpr std::uint16_t kArchive = 0x20;
constexpr std::uint16_t kExecutable = 0x40;
constexpr std::uint16_t kNameIsUtf8 = 0x80;

struct Member {
  WalkEntry entry;
  std::string name;  // as stored: '\' separated
  std::uint16_t folder = 0;
  std::uint32_t offset = 0;  // in the folder's uncompressed data
};

struct Folder {
  std::uint64_t size = 0;  // uncompressed
  std::size_t firstMember = 0;
  std::size_t memberCount = 0;
};

std::uint16_t attributesOf(const Member& member) {
  std::uint16_t attributes = kArchive;
  if ((member.entry.mode & 0200) == 0) attributes |= kReadOnly;
  if ((member.entry.mode & 0100) != 0) attributes |= kExecutable;
  const bool ascii = std::all_of(member.name.begin(), member.name.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  // A name that is not UTF-8 goes unflagged, as its raw bytes (readers then take it as CP932).
  if (!ascii && isValidUtf8(member.name)) attributes |= kNameIsUtf8;
  return attributes;
}

// The files the walk finds, each checked against the format's limits and placed in a folder.
class CabinetPlan {
 public:
  void add(const WalkEntry& entry, std::vector<SkippedEntry>& skipped) {
    if (entry.path.find('\\') != std::string::npos) {
      skipped.push_back({entry.path, "a backslash in a name is a folder separator in a cabinet"});
      return;
    }
    if (members.size() == kMaxFiles) {
      throw ArchiveError(Result::kUnsupported,
                         "more than 65,535 files: a cabinet cannot hold that many");
    }
    if (entry.path.size() > kMaxNameBytes) {
      throw ArchiveError(Result::kUnsupported,
                         entry.path + ": name longer than the 255 bytes a cabinet can store");
    }
    if (entry.size > kMaxFolderBytes) {
      throw ArchiveError(
          Result::kUnsupported,
          entry.path + " is too large for a cabinet (the most is 2,147,450,880 bytes)");
    }
    if (folders.empty() || folders.back().size + entry.size > kMaxFolderBytes) {
      folders.push_back({0, members.size(), 0});
    }
    Folder& folder = folders.back();
    Member member{entry, entry.path, static_cast<std::uint16_t>(folders.size() - 1),
                  static_cast<std::uint32_t>(folder.size)};
    std::replace(member.name.begin(), member.name.end(), '/', '\\');
    members.push_back(std::move(member));
    folder.size += entry.size;
    ++folder.memberCount;
  }

  std::vector<Member> members;
  std::vector<Folder> folders;
};

class CabinetWriter {
 public:
  CabinetWriter(ArchiveOutput& output, FolderWalk& walk, const CabinetPlan& plan)
      : output_(output), walk_(walk), plan_(plan), compressor_(makeMszipCompressor()) {
    block_.reserve(kBlockBytes);
  }

  void write() {
    writeFileTable();
    for (const Folder& folder : plan_.folders) writeFolder(folder);
    writeHeader();
  }

 private:
  void writeFileTable() {
    std::vector<std::uint8_t> table(kHeaderBytes + kFolderEntryBytes * plan_.folders.size());
    for (const Member& member : plan_.members) {
      const std::uint32_t stamp = unixToDosTime(member.entry.mtime);
      appendLe32(table, static_cast<std::uint32_t>(member.entry.size));
      appendLe32(table, member.offset);
      appendLe16(table, member.folder);
      appendLe16(table, static_cast<std::uint16_t>(stamp >> 16));
      appendLe16(table, static_cast<std::uint16_t>(stamp));
      appendLe16(table, attributesOf(member));
      table.insert(table.end(), member.name.begin(), member.name.end());
      table.push_back(0);
    }
    output_.write(table.data(), table.size());
  }

  void writeFolder(const Folder& folder) {
    folderStarts_.push_back(static_cast<std::uint32_t>(output_.size()));
    blockCounts_.push_back(0);
    compressor_->startFolder();
    std::vector<std::uint8_t> chunk(kBlockBytes);
    for (std::size_t i = 0; i < folder.memberCount; ++i) {
      const WalkEntry& entry = plan_.members[folder.firstMember + i].entry;
      if (entry.size == 0) continue;
      WalkFile file = walk_.open(entry);
      for (std::uint64_t left = entry.size; left > 0;) {
        const std::size_t wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(left, kBlockBytes - block_.size()));
        const std::size_t got = file.read(chunk.data(), wanted);
        if (got == 0) {
          throw ArchiveError(Result::kCannotOpen,
                             "cannot read " + entry.path + ": it changed while being packed");
        }
        block_.insert(block_.end(), chunk.begin(), chunk.begin() + static_cast<long>(got));
        left -= got;
        if (block_.size() == kBlockBytes) writeBlock();
      }
    }
    if (!block_.empty()) writeBlock();
  }

  void writeBlock() {
    const std::span<const std::uint8_t> coded = compressor_->compressBlock(block_);
    if (output_.size() + kDataHeaderBytes + coded.size() > kMaxCabinetBytes) {
      throw ArchiveError(Result::kUnsupported,
                         "the cabinet would be larger than 4 GiB, the most the format can hold");
    }
    std::vector<std::uint8_t> header;
    appendLe32(header, 0);
    appendLe16(header, static_cast<std::uint16_t>(coded.size()));
    appendLe16(header, static_cast<std::uint16_t>(block_.size()));
    const std::uint32_t checksum =
        blockChecksum(header.data() + 4, 4, blockChecksum(coded.data(), coded.size(), 0));
    for (int i = 0; i < 4; ++i) header[i] = static_cast<std::uint8_t>(checksum >> (8 * i));
    output_.write(header.data(), header.size());
    output_.write(coded.data(), coded.size());
    ++blockCounts_.back();
    block_.clear();
  }

  void writeHeader() {
    std::vector<std::uint8_t> header;
    header.insert(header.end(), {'M', 'S', 'C', 'F'});
    appendLe32(header, 0);
    appendLe32(header, static_cast<std::uint32_t>(output_.size()));
    appendLe32(header, 0);
    appendLe32(header,
               static_cast<std::uint32_t>(kHeaderBytes + kFolderEntryBytes * plan_.folders.size()));
    appendLe32(header, 0);
    header.push_back(3);  // format version 1.3
    header.push_back(1);
    appendLe16(header, static_cast<std::uint16_t>(plan_.folders.size()));
    appendLe16(header, static_cast<std::uint16_t>(plan_.members.size()));
    appendLe16(header, 0);  // flags: no reserved fields, not part of a set
    appendLe16(header, 0);  // set ID
    appendLe16(header, 0);  // number in the set
    for (std::size_t i = 0; i < plan_.folders.size(); ++i) {
      appendLe32(header, folderStarts_[i]);
      appendLe16(header, static_cast<std::uint16_t>(blockCounts_[i]));
      appendLe16(header, compressor_->folderType());
    }
    output_.writeAt(0, header.data(), header.size());
  }

  ArchiveOutput& output_;
  FolderWalk& walk_;
  const CabinetPlan& plan_;
  std::unique_ptr<BlockCompressor> compressor_;
  std::vector<std::uint8_t> block_;
  std::vector<std::uint32_t> folderStarts_;
  std::vector<std::uint32_t> blockCounts_;
};

}  // namespace

std::string writeCabinet(const std::string& destination, bool recursive) {
  ArchiveOutput output(destination);
  FolderWalk walk(output.ownFiles(), recursive);
  CabinetPlan plan;
  std::vector<SkippedEntry> skipped;
  walk.walk([&](const WalkEntry& entry) {
    if (entry.type == WalkEntryType::kFile) plan.add(entry, skipped);
  });
  if (plan.members.empty()) {
    throw ArchiveError(Result::kUnsupported, "no files to pack: a cabinet cannot be empty");
  }
  CabinetWriter(output, walk, plan).write();
  output.commit();
  skipped.insert(skipped.begin(), walk.skipped().begin(), walk.skipped().end());
  return output.summary(plan.members.size(), std::nullopt, skipped);
}

}  // namespace archivers::cab
