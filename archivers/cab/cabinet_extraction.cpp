#include "cab/cabinet_extraction.h"

#include <mspack.h>

#include <algorithm>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "cab/cab_member.h"
#include "cab/cabinet_layout.h"
#include "cab/cabinet_set.h"
#include "cab/mspack_bridge.h"
#include "cab/mszip_folder_reader.h"
#include "common/archive_error.h"
#include "common/extraction_sink.h"
#include "common/progress.h"

namespace archivers::cab {
namespace {

struct DecompressorDeleter {
  void operator()(mscab_decompressor* decompressor) const {
    mspack_destroy_cab_decompressor(decompressor);
  }
};
using Decompressor = std::unique_ptr<mscab_decompressor, DecompressorDeleter>;

// The cabinet list open() or search() returned, closed as a whole.
class OpenCabinets {
 public:
  OpenCabinets(mscab_decompressor* decompressor, mscabd_cabinet* first)
      : decompressor_(decompressor), first_(first) {}
  OpenCabinets(const OpenCabinets&) = delete;
  OpenCabinets& operator=(const OpenCabinets&) = delete;
  ~OpenCabinets() { decompressor_->close(decompressor_, first_); }
  mscabd_cabinet* first() const { return first_; }

 private:
  mscab_decompressor* decompressor_;
  mscabd_cabinet* first_;
};

std::string describe(int code) {
  switch (code) {
    case MSPACK_ERR_READ:
      return "data cut short (truncated cabinet)";
    case MSPACK_ERR_SEEK:
      return "an offset points past the end of the cabinet";
    case MSPACK_ERR_NOMEMORY:
      return "needs more memory than allowed";
    case MSPACK_ERR_SIGNATURE:
      return "not a cabinet";
    case MSPACK_ERR_DATAFORMAT:
      return "malformed cabinet data";
    case MSPACK_ERR_CHECKSUM:
      return "data block checksum mismatch";
    case MSPACK_ERR_DECRUNCH:
      return "damaged compressed data";
    default:
      return "cabinet decoder error " + std::to_string(code);
  }
}

[[noreturn]] void throwOpenFailure(MspackBridge& bridge, int code) {
  if (std::optional<ArchiveError> pending = bridge.takeError()) throw *pending;
  if (code == MSPACK_ERR_OPEN) throw ArchiveError(Result::kCannotOpen, "cannot open the cabinet");
  throw ArchiveError(Result::kCorrupt, "cannot read cabinet, " + describe(code));
}

mscabd_cabinet* openCabinets(mscab_decompressor* decompressor, MspackBridge& bridge) {
  const char* name = MspackBridge::archiveName();
  if (mscabd_cabinet* cabinet = decompressor->open(decompressor, name)) return cabinet;
  const int code = decompressor->last_error(decompressor);
  if (code == MSPACK_ERR_OPEN || code == MSPACK_ERR_NOMEMORY) throwOpenFailure(bridge, code);
  // No cabinet that starts at the first byte: perhaps a self-extracting program with cabinets
  // inside, or a stray signature ahead of the real header.
  std::optional<ArchiveError> openError = bridge.takeError();
  bridge.takeMessage();
  if (mscabd_cabinet* cabinet = decompressor->search(decompressor, name)) return cabinet;
  if (openError) throw *openError;
  if (code == MSPACK_ERR_SIGNATURE) {
    throw ArchiveError(Result::kCannotOpen, "not a cabinet and holds none");
  }
  throwOpenFailure(bridge, code);
}

// Whether the member's data starts in the previous cabinet of a set or goes on into the next.
bool reachesOtherParts(const mscabd_cabinet& cabinet, const mscabd_file& file) {
  return ((firstOfSet(cabinet).flags & MSCAB_HDR_PREVCAB) != 0 && file.folder == cabinet.folders) ||
         ((lastOfSet(cabinet).flags & MSCAB_HDR_NEXTCAB) != 0 && file.folder != nullptr &&
          file.folder->next == nullptr);
}

struct Member {
  const mscabd_cabinet* cabinet;
  mscabd_file* file;
  std::size_t folderIndex;
};

// Members in folder order and by offset within each folder, so that each folder is decoded once
// from start to end however the file list is ordered.
std::vector<Member> membersInDataOrder(mscabd_cabinet* cabinets) {
  std::vector<Member> members;
  for (const mscabd_cabinet* cabinet = cabinets; cabinet != nullptr; cabinet = cabinet->next) {
    std::map<const mscabd_folder*, std::size_t> folderIndex;
    for (const mscabd_folder* folder = cabinet->folders; folder != nullptr; folder = folder->next) {
      folderIndex.emplace(folder, folderIndex.size());
    }
    const std::size_t base = members.size();
    for (mscabd_file* file = cabinet->files; file != nullptr; file = file->next) {
      const auto found = folderIndex.find(file->folder);
      members.push_back(
          {cabinet, file, found == folderIndex.end() ? folderIndex.size() : found->second});
    }
    std::stable_sort(members.begin() + static_cast<std::ptrdiff_t>(base), members.end(),
                     [](const Member& left, const Member& right) {
                       if (left.folderIndex != right.folderIndex) {
                         return left.folderIndex < right.folderIndex;
                       }
                       return left.file->offset < right.file->offset;
                     });
  }
  return members;
}

class CabinetExtractor {
 public:
  CabinetExtractor(mscab_decompressor* decompressor, MspackBridge& bridge, ExtractionSink& sink)
      : decompressor_(decompressor), bridge_(bridge), sink_(sink) {}

  void extract(const Member& member) {
    mscabd_file& file = *member.file;
    const EntryInfo entry = memberEntry(file);
    if (overlapsEarlierMember(file)) {
      sink_.fail(Result::kCorrupt, "overlaps another member's data", entry.path);
      return;
    }
    if (file.folder != nullptr && MSCABD_COMP_METHOD(file.folder->comp_type) > MSCAB_COMP_LZX) {
      sink_.fail(Result::kUnsupported,
                 "compression method " +
                     std::to_string(MSCABD_COMP_METHOD(file.folder->comp_type)) + " not supported",
                 entry.path);
      return;
    }
    if (brokenFolders_.count(file.folder) != 0) {
      noteFailure(member, entry.path, "its folder's data is damaged", false);
      return;
    }
    std::unique_ptr<FileOutput> output = sink_.createFile(entry);
    if (output == nullptr) return;  // refused; the sink reports it
    if (const FolderLayout* folder = zlibFolder(member)) {
      extractWithZlib(member, entry.path, *folder, std::move(output));
      return;
    }

    bridge_.setOutput(output.get());
    const int code = decompressor_->extract(decompressor_, &file, MspackBridge::outputName());
    bridge_.setOutput(nullptr);
    std::optional<ArchiveError> pending = bridge_.takeError();
    const std::string message = bridge_.takeMessage();
    const bool setIncomplete = message.find("cabinet set is incomplete") != std::string::npos ||
                               message.find("ran out of cabinets") != std::string::npos;
    if (pending && endsExtraction(*pending)) throw *pending;

    if (code == MSPACK_ERR_OK && !pending && output->written() == file.length) {
      output->commit();
      return;
    }
    const std::uint64_t written = output->written();
    output.reset();  // nothing is left under the member's name
    brokenFolders_.insert(file.folder);
    if (pending) {
      noteFailure(member, entry.path, pending->what(), setIncomplete);
    } else if (code == MSPACK_ERR_OK) {
      noteFailure(member, entry.path,
                  "size differs: " + std::to_string(written) + " of " +
                      std::to_string(file.length) + " bytes",
                  setIncomplete);
    } else {
      noteFailure(member, entry.path, describe(code), setIncomplete);
    }
  }

 private:
  // Whether the member's data starts inside the data of a member before it in its folder. Each
  // member of a well-formed cabinet has data of its own; letting members share it would let a
  // small cabinet write the same decoded bytes over and over. Members come in data order, so the
  // furthest end reached so far in the folder is all that needs keeping.
  bool overlapsEarlierMember(const mscabd_file& file) {
    const std::uint64_t end = std::uint64_t{file.offset} + file.length;
    auto [furthest, first] = folderEnds_.try_emplace(file.folder, end);
    if (first) return false;
    if (file.offset < furthest->second) return true;
    furthest->second = end;
    return false;
  }

  void noteFailure(const Member& member, const std::string& path, const std::string& reason,
                   bool setIncomplete) {
    if (setIncomplete || reachesOtherParts(*member.cabinet, *member.file)) {
      sink_.fail(Result::kUnsupported, "needs other cabinets of the set", path);
    } else {
      sink_.fail(Result::kCorrupt, "cabinet damaged, " + reason, path);
    }
  }

  // The layout of the member's MSZIP folder when zlib may decode it: a cabinet on its own (no
  // data in other parts) whose header reads cleanly. Else null, and libmspack decodes.
  const FolderLayout* zlibFolder(const Member& member) {
    const mscabd_cabinet& cabinet = *member.cabinet;
    const mscabd_file& file = *member.file;
    if (file.folder == nullptr || MSCABD_COMP_METHOD(file.folder->comp_type) != MSCAB_COMP_MSZIP ||
        (cabinet.flags & (MSCAB_HDR_PREVCAB | MSCAB_HDR_NEXTCAB)) != 0 ||
        cabinet.filename == nullptr) {
      return nullptr;
    }
    auto found = layouts_.find(&cabinet);
    if (found == layouts_.end()) {
      std::optional<CabinetLayout> layout;
      if (ArchiveInput* input = bridge_.input(cabinet.filename)) {
        layout = readCabinetLayout(*input, static_cast<std::uint64_t>(cabinet.base_offset));
      }
      found = layouts_.emplace(&cabinet, std::move(layout)).first;
    }
    const std::optional<CabinetLayout>& layout = found->second;
    if (!layout || member.folderIndex >= layout->folders.size()) return nullptr;
    const FolderLayout& folder = layout->folders[member.folderIndex];
    if (folder.blockCount != file.folder->num_blocks ||
        MSCABD_COMP_METHOD(folder.compression) != MSCAB_COMP_MSZIP)
      return nullptr;
    return &folder;
  }

  // Members come in data order, so one reader runs through each folder; a member that starts
  // before the reader's position (overlapping members) starts the folder over.
  void extractWithZlib(const Member& member, const std::string& path, const FolderLayout& folder,
                       std::unique_ptr<FileOutput> output) {
    const mscabd_file& file = *member.file;
    try {
      if (zlibReader_ == nullptr || zlibFolder_ != file.folder ||
          zlibReader_->position() > file.offset) {
        zlibReader_.reset();
        zlibReader_ =
            std::make_unique<MszipFolderReader>(*bridge_.input(member.cabinet->filename), folder,
                                                layoutOf(*member.cabinet).blockReserve);
        zlibFolder_ = file.folder;
      }
      zlibReader_->copy(nullptr, file.offset - zlibReader_->position());
      zlibReader_->copy(output.get(), file.length);
    } catch (const ArchiveError& error) {
      if (endsExtraction(error)) throw;
      output.reset();  // nothing is left under the member's name
      zlibReader_.reset();
      brokenFolders_.insert(file.folder);
      noteFailure(member, path, error.what(), false);
      return;
    }
    output->commit();
  }

  const CabinetLayout& layoutOf(const mscabd_cabinet& cabinet) const {
    return *layouts_.at(&cabinet);
  }

  mscab_decompressor* decompressor_;
  MspackBridge& bridge_;
  ExtractionSink& sink_;
  std::set<const mscabd_folder*> brokenFolders_;
  std::map<const mscabd_folder*, std::uint64_t> folderEnds_;  // of the members' data so far
  std::map<const mscabd_cabinet*, std::optional<CabinetLayout>> layouts_;
  std::unique_ptr<MszipFolderReader> zlibReader_;
  const mscabd_folder* zlibFolder_ = nullptr;
};

}  // namespace

void readCabinet(ArchiveInput& input, ExtractionSink& sink) {
  MspackBridge bridge(input);
  Decompressor decompressor(mspack_create_cab_decompressor(bridge.system()));
  if (!decompressor) throw ArchiveError(Result::kInternal, "cannot start the cabinet decoder");

  std::list<std::string> partNames;  // outlives the cabinets, which point into it
  OpenCabinets cabinets(decompressor.get(), openCabinets(decompressor.get(), bridge));
  if (cabinets.first()->next == nullptr &&
      (cabinets.first()->flags & (MSCAB_HDR_PREVCAB | MSCAB_HDR_NEXTCAB)) != 0) {
    joinSetParts(decompressor.get(), bridge, cabinets.first(), partNames);
  }
  const std::vector<Member> members = membersInDataOrder(cabinets.first());

  CabinetExtractor extractor(decompressor.get(), bridge, sink);
  for (const Member& member : members) extractor.extract(member);
}

std::string extractCabinet(const std::string& archivePath, const std::string& destination,
                           FollowedCall& call) {
  FileArchiveInput input(archivePath, call);
  call.setArchive(archivePath, input.size());
  ExtractionSink sink(destination, call);
  readCabinet(input, sink);
  return sink.finish();
}

}  // namespace archivers::cab
