#include "cab/cabinet_writer.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "cab/block_checksum.h"
#include "cab/block_compressor.h"
#include "cab/lzx_compressor.h"
#include "cab/ordered_pipeline.h"
#include "cab/self_extractor.h"
#include "cab/sfx_stub/sfx_trailer.h"
#include "common/archive_error.h"
#include "common/archive_output.h"
#include "common/byte_order.h"
#include "common/dos_time.h"
#include "common/folder_walk.h"
#include "common/progress.h"
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

// The files the walk finds, each checked against the format's limits, then placed in folders.
class CabinetPlan {
 public:
  void add(const WalkEntry& entry) {
    if (members.size() == kMaxFiles) {
      throw ArchiveError(Result::kUnsupported,
                         "more than 65,535 files: a cabinet cannot hold that many");
    }
    if (entry.size > kMaxFolderBytes) {
      throw ArchiveError(Result::kUnsupported,
                         "too large for a cabinet (the most is 2,147,450,880 bytes)", entry.path);
    }
    Member member{entry, entry.path};
    std::replace(member.name.begin(), member.name.end(), '/', '\\');
    members.push_back(std::move(member));
    totalBytes += entry.size;
  }

  // Puts files with the same extension side by side, in walk order within each. An LZX folder is
  // one stream with a 2 MiB window: files of a kind find each other's strings within it, and
  // fewer blocks change their trees than when text and binaries alternate.
  void groupByExtension() {
    std::vector<std::pair<std::string, std::size_t>> keys;
    for (std::size_t i = 0; i < members.size(); ++i) {
      const std::string& name = members[i].name;
      const std::size_t dot = name.rfind('.');
      const std::size_t separator = name.rfind('\\');
      std::string extension;
      if (dot != std::string::npos && (separator == std::string::npos || dot > separator)) {
        extension = name.substr(dot + 1);
        for (char& c : extension)
          c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      }
      keys.emplace_back(std::move(extension), i);
    }
    std::sort(keys.begin(), keys.end());
    std::vector<Member> grouped;
    grouped.reserve(members.size());
    for (const auto& key : keys) grouped.push_back(std::move(members[key.second]));
    members = std::move(grouped);
  }

  // Cuts the members, in order, into folders: once a folder holds something, a file that would
  // take it past folderBytes starts the next one.
  void cutFolders(std::uint64_t folderBytes) {
    folders.clear();
    for (std::size_t i = 0; i < members.size(); ++i) {
      Member& member = members[i];
      if (folders.empty() ||
          (folders.back().size > 0 && folders.back().size + member.entry.size > folderBytes)) {
        folders.push_back({0, i, 0});
      }
      Folder& folder = folders.back();
      member.folder = static_cast<std::uint16_t>(folders.size() - 1);
      member.offset = static_cast<std::uint32_t>(folder.size);
      folder.size += member.entry.size;
      ++folder.memberCount;
    }
  }

  std::vector<Member> members;
  std::vector<Folder> folders;
  std::uint64_t totalBytes = 0;
};

// LZX folders are each one stream, coded in parallel. Their size is cut from the total: an eighth
// of it, so that the folders after a large one still share out between threads and they finish
// close together, but no smaller than two windows (each folder starts with nothing to refer
// to) and no larger than 32 MiB. It does not depend on the thread count, nor does the cabinet.
constexpr std::uint64_t kLzxFolderShare = 8;
constexpr std::uint64_t kMinLzxFolderBytes = 4ull << 20;
constexpr std::uint64_t kMaxLzxFolderBytes = 32ull << 20;

std::uint64_t lzxFolderBytes(std::uint64_t totalBytes) {
  return std::clamp(totalBytes / kLzxFolderShare, kMinLzxFolderBytes, kMaxLzxFolderBytes);
}

// MSZIP blocks are independent: a folder is coded in parallel tasks of this many bytes.
constexpr std::uint64_t kMszipTaskBytes = 32 * kBlockBytes;
// Compressors of all threads together stay within this; the rest of the 64 MiB is the tasks'
// buffered output, the walk and the plan. Two LZX coders at -ml:21 fit; three came to 61 MiB in
// all, too close.
constexpr std::size_t kCompressorBudget = 40u << 20;

// A run of one folder's data blocks that one worker codes in one go.
struct CodingTask {
  std::size_t folder = 0;
  std::uint64_t start = 0;  // in the folder's uncompressed data
  std::uint64_t length = 0;
};

// Reads a range of a folder's uncompressed data: its members' contents one after another.
class FolderReader {
 public:
  FolderReader(const CabinetPlan& plan, const Folder& folder, std::uint64_t start,
               std::function<WalkFile(const WalkEntry&)> open)
      : plan_(plan), folder_(folder), open_(std::move(open)), position_(start) {
    while (member_ < folder_.memberCount && endOf(member_) <= position_) ++member_;
  }

  // Fills buffer from the current position; short only at the end of the folder.
  std::size_t read(std::uint8_t* buffer, std::size_t count) {
    std::size_t filled = 0;
    while (filled < count && member_ < folder_.memberCount) {
      const Member& member = plan_.members[folder_.firstMember + member_];
      const std::uint64_t left = endOf(member_) - position_;
      if (left == 0) {
        file_.reset();
        ++member_;
        continue;
      }
      if (!file_) {
        file_.emplace(open_(member.entry));
        file_->seek(position_ - member.offset);
      }
      const std::size_t wanted =
          static_cast<std::size_t>(std::min<std::uint64_t>(left, count - filled));
      const std::size_t got = file_->read(buffer + filled, wanted);
      if (got == 0) {
        throw ArchiveError(Result::kCannotOpen, "cannot read, it changed while being packed",
                           member.entry.path);
      }
      filled += got;
      position_ += got;
    }
    return filled;
  }

 private:
  std::uint64_t endOf(std::size_t index) const {
    const Member& member = plan_.members[folder_.firstMember + index];
    return member.offset + member.entry.size;
  }

  const CabinetPlan& plan_;
  const Folder& folder_;
  std::function<WalkFile(const WalkEntry&)> open_;
  std::uint64_t position_;
  std::size_t member_ = 0;
  std::optional<WalkFile> file_;
};

std::vector<CodingTask> codingTasksOf(const CabinetPlan& plan, const CompressionMethod& method) {
  std::vector<CodingTask> tasks;
  const std::uint64_t taskBytes =
      method.kind == CompressionMethod::Kind::kLzx ? kMaxFolderBytes : kMszipTaskBytes;
  for (std::size_t i = 0; i < plan.folders.size(); ++i) {
    std::uint64_t start = 0;
    do {
      const std::uint64_t length = std::min(taskBytes, plan.folders[i].size - start);
      tasks.push_back({i, start, length});
      start += length;
    } while (start < plan.folders[i].size);
  }
  return tasks;
}

class CabinetWriter {
 public:
  CabinetWriter(ArchiveOutput& output, FolderWalk& walk, const CabinetPlan& plan,
                const CompressionMethod& method, std::string spillFolder, FollowedCall& call)
      : output_(output),
        walk_(walk),
        plan_(plan),
        method_(method),
        spillFolder_(std::move(spillFolder)),
        call_(call),
        folderStarts_(plan.folders.size()),
        blockCounts_(plan.folders.size()) {}

  void write() {
    writeFileTable();
    const std::vector<CodingTask> tasks = codingTasksOf(plan_, method_);
    const std::size_t memory = compressorMemory(method_);
    PipelineLimits limits;
    limits.threads = static_cast<unsigned>(std::clamp<std::size_t>(
        std::min<std::size_t>(configuredThreads(), kCompressorBudget / memory), 1, tasks.size()));
    limits.tasksAhead = limits.threads;
    limits.memoryPerTask = 1 << 20;
    limits.spillFolder = spillFolder_;
    // Each LZX coder also finds its next frame's matches on a thread of its own, so that one
    // folder coded alone, or the last one left, still keeps two cores busy.
    const unsigned threadsPerCoder = configuredThreads() > 1 ? 2 : 1;
    std::vector<std::unique_ptr<BlockCompressor>> compressors(limits.threads);
    runOrdered(
        tasks.size(), limits, call_,
        [&](std::size_t index, unsigned worker, TaskOutput& out) {
          if (!compressors[worker])
            compressors[worker] = makeBlockCompressor(method_, threadsPerCoder);
          codeTask(tasks[index], *compressors[worker], out);
        },
        [&](std::size_t index, std::span<const std::uint8_t> bytes) {
          markFolderStart(tasks[index]);
          if (output_.size() + bytes.size() > kMaxCabinetBytes) {
            throw ArchiveError(
                Result::kUnsupported,
                "the cabinet would be larger than 4 GiB, the most the format can hold");
          }
          output_.write(bytes.data(), bytes.size());
        },
        [&](std::size_t index, std::uint32_t records) {
          markFolderStart(tasks[index]);
          blockCounts_[tasks[index].folder] += records;
        });
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

  // Called as a task's first bytes are written, or when it ends with none: the folder's data
  // begins where its first task's does. The file table comes first, so no start is 0.
  void markFolderStart(const CodingTask& task) {
    if (task.start == 0 && folderStarts_[task.folder] == 0) {
      folderStarts_[task.folder] = static_cast<std::uint32_t>(output_.size());
    }
  }

  WalkFile openMember(const WalkEntry& entry) {
    const std::lock_guard lock(walkMutex_);
    return walk_.open(entry);
  }

  // Reads ahead through the folder for calls: E8 translation is chosen once per LZX stream.
  bool looksLikeX86Code(const Folder& folder) {
    if (method_.kind != CompressionMethod::Kind::kLzx) return false;
    X86CallCounter counter;
    FolderReader reader(plan_, folder, 0, [this](const WalkEntry& e) { return openMember(e); });
    std::vector<std::uint8_t> buffer(kBlockBytes);
    while (const std::size_t got = reader.read(buffer.data(), buffer.size())) {
      counter.add(std::span(buffer).first(got));
    }
    return counter.looksLikeCode();
  }

  void codeTask(const CodingTask& task, BlockCompressor& compressor, TaskOutput& out) {
    const Folder& folder = plan_.folders[task.folder];
    if (task.start == 0) {
      FolderTraits traits{folder.size, looksLikeX86Code(folder), {}};
      for (std::size_t i = 0; i < folder.memberCount; ++i) {
        traits.memberStarts.push_back(plan_.members[folder.firstMember + i].offset);
      }
      compressor.startFolder(traits);
    }
    FolderReader reader(plan_, folder, task.start,
                        [this](const WalkEntry& e) { return openMember(e); });
    std::vector<std::uint8_t> block(kBlockBytes);
    std::vector<std::uint8_t> record;
    for (std::uint64_t left = task.length; left > 0;) {
      const std::size_t wanted =
          static_cast<std::size_t>(std::min<std::uint64_t>(left, kBlockBytes));
      const std::size_t got = reader.read(block.data(), wanted);
      if (got != wanted) throw ArchiveError(Result::kCannotOpen, "a packed file changed size");
      call_.advance(got);
      for (const CodedBlock& coded : compressor.compressDataBlock(std::span(block).first(got))) {
        record.clear();
        appendLe32(record, 0);
        appendLe16(record, static_cast<std::uint16_t>(coded.bytes.size()));
        appendLe16(record, static_cast<std::uint16_t>(coded.uncompressedSize));
        const std::uint32_t checksum = blockChecksum(
            record.data() + 4, 4, blockChecksum(coded.bytes.data(), coded.bytes.size(), 0));
        storeLe32(record.data(), checksum);
        record.insert(record.end(), coded.bytes.begin(), coded.bytes.end());
        out.append(record);
      }
      left -= got;
    }
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
    const std::uint16_t type = folderTypeOf(method_);
    for (std::size_t i = 0; i < plan_.folders.size(); ++i) {
      appendLe32(header, folderStarts_[i]);
      appendLe16(header, static_cast<std::uint16_t>(blockCounts_[i]));
      appendLe16(header, type);
    }
    output_.writeAt(0, header.data(), header.size());
  }

  ArchiveOutput& output_;
  FolderWalk& walk_;
  const CabinetPlan& plan_;
  const CompressionMethod method_;
  const std::string spillFolder_;
  FollowedCall& call_;
  std::mutex walkMutex_;
  std::vector<std::uint32_t> folderStarts_;
  std::vector<std::uint32_t> blockCounts_;
};

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A folder is left out whole when not even a one-byte name fits below it.
const char* unholdableInCabinet(std::string_view path, WalkEntryType type) {
  if (path.find('\\') != std::string_view::npos) {
    return "\\ in the name, a folder separator in cabinets";
  }
  const std::size_t longest = type == WalkEntryType::kFolder ? kMaxNameBytes - 2 : kMaxNameBytes;
  return path.size() > longest ? "name longer than the 255 bytes a cabinet can store" : nullptr;
}

// The walk's folders that hold no packed file, at any depth: the cabinet cannot bring them back.
std::vector<SfxFolder> emptyFoldersOf(const std::vector<WalkEntry>& folders,
                                      const std::vector<Member>& members) {
  std::set<std::string_view> holding;
  for (const Member& member : members) {
    const std::string_view path = member.entry.path;
    for (std::size_t slash = path.find('/'); slash != std::string_view::npos;
         slash = path.find('/', slash + 1)) {
      holding.insert(path.substr(0, slash));
    }
  }
  std::vector<SfxFolder> empty;
  for (const WalkEntry& folder : folders) {
    if (!holding.contains(folder.path)) empty.push_back({folder.path, folder.mtime});
  }
  return empty;
}

// A self-extracting program made from an earlier cabinet of this name: packing it would put the
// old program inside the new one, which then grows with every run.
bool isEarlierProgram(FolderWalk& walk, const WalkEntry& entry, std::string_view programName) {
  const std::size_t slash = entry.path.rfind('/');
  const std::string_view leaf =
      std::string_view(entry.path).substr(slash == std::string::npos ? 0 : slash + 1);
  if (leaf != programName || entry.size < SfxTrailer::kFirstBytes) return false;
  WalkFile file = walk.open(entry);
  std::array<unsigned char, SfxTrailer::kBytes> end{};
  const std::size_t count =
      static_cast<std::size_t>(std::min<std::uint64_t>(entry.size, end.size()));
  return file.readAt(end.data(), count, entry.size - count) == count &&
         SfxTrailer::decode(std::span(end).first(count)).has_value();
}

}  // namespace

Outcome writeCabinet(const std::string& destination, bool recursive,
                     const CompressionMethod& method, FollowedCall& call,
                     std::vector<SfxFolder>* emptyFolders) {
  ArchiveOutput output(destination, call);
  FolderWalk walk(output.ownFiles(), recursive, call, unholdableInCabinet);
  const std::string programName = selfExtractorStem(destination) + ".run";
  CabinetPlan plan;
  std::vector<WalkEntry> folders;
  walk.walk([&](const WalkEntry& entry) {
    if (entry.type != WalkEntryType::kFile) return folders.push_back(entry);
    if (isEarlierProgram(walk, entry, programName)) {
      return walk.skip(entry.path, "an earlier self-extracting program of this folder");
    }
    plan.add(entry);
  });
  if (plan.members.empty()) {
    throw ArchiveError(Result::kUnsupported, "no files to pack: a cabinet cannot be empty");
  }
  call.setTotal(plan.totalBytes);
  if (method.kind == CompressionMethod::Kind::kLzx) plan.groupByExtension();
  plan.cutFolders(method.kind == CompressionMethod::Kind::kLzx ? lzxFolderBytes(plan.totalBytes)
                                                               : kMaxFolderBytes);
  CabinetWriter(output, walk, plan, method, folderOf(destination), call).write();
  output.commit();
  if (emptyFolders != nullptr) *emptyFolders = emptyFoldersOf(folders, plan.members);
  return output.summary(plan.members.size(), std::nullopt, walk.skipped());
}

}  // namespace archivers::cab
