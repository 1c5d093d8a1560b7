#include "startup/split_arguments.h"

namespace parvo {

std::vector<std::wstring> SplitArguments(std::wstring_view text) {
  std::vector<std::wstring> paths;
  bool inToken = false;
  bool inQuotes = false;
  for (const wchar_t character : text) {
    if (!inQuotes && (character == L' ' || character == L'\t')) {
      inToken = false;
      continue;
    }
    if (!inToken) {
      paths.emplace_back();
      inToken = true;
    }
    if (character == L'"') inQuotes = !inQuotes;
    paths.back() += character;
  }
  return paths;
}

}  // namespace parvo
