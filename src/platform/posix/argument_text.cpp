#include "platform/posix/argument_text.h"

#include "platform/posix/utf8_text.h"
#include "runtime/run_time_error.h"

namespace parvo {
namespace {

bool onlyBlanks(const std::string& text) {
  return text.find_first_not_of(" \t") == std::string::npos;
}

}  // namespace

std::string normalisePath(const std::string& path, const std::string& currentDirectory) {
  const std::string absolute = path.starts_with('/') ? path : currentDirectory + "/" + path;
  std::vector<std::string> components;
  std::size_t start = 0;
  while (start <= absolute.size()) {
    std::size_t end = absolute.find('/', start);
    if (end == std::string::npos) end = absolute.size();
    const std::string component = absolute.substr(start, end - start);
    if (component == "..") {
      if (!components.empty()) components.pop_back();
    } else if (!component.empty() && component != ".") {
      components.push_back(component);
    }
    start = end + 1;
  }
  std::string result;
  for (const std::string& component : components) result += "/" + component;
  return result.empty() ? "/" : result;
}

std::wstring argumentTextFrom(const std::vector<std::string>& arguments,
                              const std::string& currentDirectory) {
  std::string text;
  for (const std::string& argument : arguments) {
    if (argument.empty()) continue;
    std::string element = argument;
    if (!onlyBlanks(argument)) {
      if (argument.find('"') != std::string::npos) raiseError(kBadFileName);
      element = normalisePath(argument, currentDirectory);
      if (element.find_first_of(" \t") != std::string::npos) element = '"' + element + '"';
    }
    if (!text.empty()) text += ' ';
    text += element;
  }
  return fromUtf8(text);
}

}  // namespace parvo
