#include "cab/cabinet_set.h"

#include <dirent.h>

#include <cstring>
#include <optional>
#include <string_view>

namespace archivers::cab {
namespace {

// Sets are made on Windows; more parts than this is a loop or a hostile header.
constexpr int kMaximumParts = 256;

bool sameIgnoringAsciiCase(std::string_view left, std::string_view right) {
  if (left.size() != right.size()) return false;
  for (std::size_t i = 0; i < left.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(left[i]) != lower(right[i])) return false;
  }
  return true;
}

// The file in folder whose name matches the DOS name a cabinet gives for its neighbour.
std::optional<std::string> findPart(const std::string& folder, const char* dosName) {
  if (dosName == nullptr) return std::nullopt;
  std::string_view wanted = dosName;
  const std::size_t separator = wanted.find_last_of("\\/:");
  if (separator != std::string_view::npos) wanted.remove_prefix(separator + 1);
  if (wanted.empty() || wanted == "." || wanted == "..") return std::nullopt;

  DIR* directory = opendir(folder.empty() ? "." : folder.c_str());
  if (directory == nullptr) return std::nullopt;
  std::optional<std::string> found;
  while (const dirent* entry = readdir(directory)) {
    if (sameIgnoringAsciiCase(entry->d_name, wanted)) {
      found = folder + entry->d_name;
      if (wanted == entry->d_name) break;  // an exact match wins over a case-folded one
    }
  }
  closedir(directory);
  return found;
}

bool alreadyJoined(const std::list<std::string>& partPaths, const std::string& path) {
  for (const std::string& joined : partPaths) {
    if (joined == path) return true;
  }
  return false;
}

// Opens the part named by the neighbour's header and joins it on one side. False when there is
// none or it does not fit.
bool joinOne(mscab_decompressor* decompressor, MspackBridge& bridge, mscabd_cabinet* neighbour,
             bool after, const std::string& folder, std::list<std::string>& partPaths) {
  const std::optional<std::string> path =
      findPart(folder, after ? neighbour->nextname : neighbour->prevname);
  if (!path || alreadyJoined(partPaths, *path)) return false;
  partPaths.push_back(*path);
  bridge.allowInput(*path);
  mscabd_cabinet* part = decompressor->open(decompressor, partPaths.back().c_str());
  if (part == nullptr) {
    bridge.takeError();
    return false;
  }
  const int code = after ? decompressor->append(decompressor, neighbour, part)
                         : decompressor->prepend(decompressor, neighbour, part);
  if (code != MSPACK_ERR_OK) {
    decompressor->close(decompressor, part);
    return false;
  }
  return true;
}

}  // namespace

const mscabd_cabinet& firstOfSet(const mscabd_cabinet& cabinet) {
  const mscabd_cabinet* first = &cabinet;
  while (first->prevcab != nullptr) first = first->prevcab;
  return *first;
}

const mscabd_cabinet& lastOfSet(const mscabd_cabinet& cabinet) {
  const mscabd_cabinet* last = &cabinet;
  while (last->nextcab != nullptr) last = last->nextcab;
  return *last;
}

void joinSetParts(mscab_decompressor* decompressor, MspackBridge& bridge, mscabd_cabinet* cabinet,
                  const std::string& cabinetPath, std::list<std::string>& partPaths) {
  const std::size_t slash = cabinetPath.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : cabinetPath.substr(0, slash + 1);
  partPaths.push_back(cabinetPath);
  int parts = 1;
  for (mscabd_cabinet* first = cabinet;
       (first->flags & MSCAB_HDR_PREVCAB) != 0 && parts < kMaximumParts; ++parts) {
    if (!joinOne(decompressor, bridge, first, false, folder, partPaths)) break;
    first = first->prevcab;
  }
  for (mscabd_cabinet* last = cabinet;
       (last->flags & MSCAB_HDR_NEXTCAB) != 0 && parts < kMaximumParts; ++parts) {
    if (!joinOne(decompressor, bridge, last, true, folder, partPaths)) break;
    last = last->nextcab;
  }
  bridge.takeMessage();
}

}  // namespace archivers::cab
