#include "platform/win32/command_line.h"

namespace parvo {

std::wstring_view argumentsAfterProgramName(std::wstring_view commandLine) {
  std::size_t position = 0;
  const std::size_t length = commandLine.size();
  if (length > 0 && commandLine[0] == L'"') {
    position = commandLine.find(L'"', 1);
    position = position == std::wstring_view::npos ? length : position + 1;
  } else {
    while (position < length && commandLine[position] > L' ') ++position;
  }
  while (position < length && commandLine[position] != L'\0' && commandLine[position] <= L' ') {
    ++position;
  }
  return commandLine.substr(position);
}

}  // namespace parvo
