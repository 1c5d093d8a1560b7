#include "common/member_path.h"

#include "common/utf8.h"

namespace archivers {

MemberPath splitMemberPath(std::string_view path) {
  MemberPath split;
  // A NUL byte ends the name where the system calls see it: "..\0x" would be checked as one name
  // and made as "..".
  if (path.find('\0') != std::string_view::npos) {
    split.refusal = "name holds a NUL byte";
    return split;
  }
  if (path.empty()) {
    split.refusal = "empty name";
    return split;
  }
  const bool drivePrefix =
      path.size() >= 2 && path[1] == ':' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  if (path.front() == '/' || drivePrefix) {
    split.refusal = "absolute or climbing name";
    return split;
  }
  forEachPart(path, [&](std::string_view component) {
    if (component == "..") {
      split.refusal = "absolute or climbing name";
    } else if (component.size() > kMaxNameBytes) {
      split.refusal = "name too long";
    } else {
      split.components.emplace_back(component);
      return true;
    }
    split.components.clear();
    return false;
  });
  return split;
}

MemberPath splitEntryPath(std::string_view path) {
  MemberPath split = splitMemberPath(path);
  if (split.refusal == nullptr && split.components.empty()) split.refusal = "empty name";
  return split;
}

const char* linkTargetRefusal(std::string_view target) {
  return target.find('\0') != std::string_view::npos ? "link target holds a NUL byte" : nullptr;
}

std::string joinedPath(const std::vector<std::string>& components) {
  std::string path;
  for (const std::string& component : components) {
    if (!path.empty()) path.push_back('/');
    path += component;
  }
  return path;
}

std::string printable(std::string_view text) {
  std::string out;
  for (const char c : text.substr(0, utf8PrefixLength(text, 200))) {
    if (c == '\0') {
      out += "\\0";
    } else {
      out.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c);
    }
  }
  return out;
}

}  // namespace archivers
