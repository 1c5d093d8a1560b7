#include "cab/cabinet_set.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>

#include "common/text_encoding.h"

namespace archivers::cab {
namespace {

// Sets are made on Windows; more parts than this is a loop or a hostile header.
constexpr int kMaximumParts = 256;

// The name a cabinet gives its neighbour, without the DOS folder it may come with.
std::optional<std::string> partName(const char* dosName) {
  if (dosName == nullptr) return std::nullopt;
  std::string_view wanted = dosName;
  const std::size_t separator = wanted.find_last_of("\\/:");
  if (separator != std::string_view::npos) wanted.remove_prefix(separator + 1);
  if (wanted.empty() || wanted == "." || wanted == "..") return std::nullopt;
  return std::string(wanted);
}

bool alreadyJoined(const std::list<std::string>& partNames, const std::string& name) {
  return std::any_of(partNames.begin(), partNames.end(), [&](const std::string& joined) {
    return sameIgnoringAsciiCase(joined, name);
  });
}

// Opens the part named by the neighbour's header and joins it on one side. False when there is
// none or it does not fit.
bool joinOne(mscab_decompressor* decompressor, MspackBridge& bridge, mscabd_cabinet* neighbour,
             bool after, std::list<std::string>& partNames) {
  const std::optional<std::string> name =
      partName(after ? neighbour->nextname : neighbour->prevname);
  if (!name || alreadyJoined(partNames, *name)) return false;
  partNames.push_back(*name);
  mscabd_cabinet* part = decompressor->open(decompressor, partNames.back().c_str());
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
  // The part's name for its neighbour: the cabinet the reading began with has no other, and a
  // part naming it again would join it twice.
  if (std::optional<std::string> back = partName(after ? part->prevname : part->nextname)) {
    partNames.push_back(std::move(*back));
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
                  std::list<std::string>& partNames) {
  int parts = 1;
  for (mscabd_cabinet* first = cabinet;
       (first->flags & MSCAB_HDR_PREVCAB) != 0 && parts < kMaximumParts; ++parts) {
    if (!joinOne(decompressor, bridge, first, false, partNames)) break;
    first = first->prevcab;
  }
  for (mscabd_cabinet* last = cabinet;
       (last->flags & MSCAB_HDR_NEXTCAB) != 0 && parts < kMaximumParts; ++parts) {
    if (!joinOne(decompressor, bridge, last, true, partNames)) break;
    last = last->nextcab;
  }
  bridge.takeMessage();
}

}  // namespace archivers::cab
