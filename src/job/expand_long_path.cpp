#include "job/expand_long_path.h"

#include "runtime/run_time_error.h"

namespace parvo {
namespace {

// Separator positions are counted in a signed 16-bit value.
constexpr std::size_t kLargestPosition = 32766;

std::size_t nextSeparator(const std::wstring& text, wchar_t separator, std::size_t from) {
  const std::size_t index = text.find(separator, from);
  if (index != std::wstring::npos && index > kLargestPosition - 1) raiseError(kOverflow);
  return index;
}

}  // namespace

std::wstring ExpandLongPath(Platform& platform, std::wstring shortPath) {
  const PathSyntax syntax = platform.pathSyntax();
  const std::wstring working = shortPath + syntax.separator;
  std::wstring result;

  // The root (the drive and its separator) is never looked up.
  std::size_t separator = nextSeparator(working, syntax.separator, syntax.rootLength + 1);
  std::size_t componentStart = syntax.rootLength + 1;
  while (separator != std::wstring::npos) {
    if (separator > componentStart) {
      const auto name = platform.findEntryName(working.substr(0, separator));
      if (!name) return {};
      result += syntax.separator;
      result += *name;
    }
    componentStart = separator + 1;
    separator = nextSeparator(working, syntax.separator, separator + 1);
  }
  return working.substr(0, syntax.rootLength) + result;
}

}  // namespace parvo
