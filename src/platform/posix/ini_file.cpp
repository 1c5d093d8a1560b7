#include "platform/posix/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <vector>

#include "common/posix_files.h"

namespace parvo {
namespace {

constexpr const char* kBlanks = " \t\r";

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool sameName(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// The section a "[name]" line opens, if it is one.
std::optional<std::string> sectionOf(const std::string& line) {
  const std::string text = trimmed(line);
  if (text.size() < 2 || text.front() != '[' || text.back() != ']') return std::nullopt;
  return trimmed(text.substr(1, text.size() - 2));
}

bool isKeyLine(const std::string& line, const std::string& key) {
  const std::size_t equals = line.find('=');
  return equals != std::string::npos && sameName(trimmed(line.substr(0, equals)), key);
}

std::string valueOf(const std::string& line) {
  const std::string value = trimmed(line.substr(line.find('=') + 1));
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// The file's lines, or nothing when it is missing, unreadable or not text.
std::optional<std::vector<std::string>> readLines(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  if (!stream) return std::nullopt;
  std::ostringstream contents;
  contents << stream.rdbuf();
  if (stream.bad()) return std::nullopt;
  const std::string text = contents.str();
  if (text.find('\0') != std::string::npos) return std::nullopt;
  std::vector<std::string> lines;
  std::istringstream reader(text);
  for (std::string line; std::getline(reader, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool replaceFile(const std::string& path, const std::string& text) {
  const std::size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 &&
      !archivers::createFolders(path.substr(0, slash), 0700))
    return false;
  std::string temporary = path + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) return false;
  const bool written =
      fchmod(fd, 0600) == 0 && archivers::writeAll(fd, text.data(), text.size()) && fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  if (written && closed && rename(temporary.c_str(), path.c_str()) == 0) return true;
  unlink(temporary.c_str());
  return false;
}

}  // namespace

std::optional<std::string> IniFile::read(const std::string& section, const std::string& key) const {
  const auto lines = readLines(path_);
  if (!lines) return std::nullopt;
  bool inSection = false;
  for (const std::string& line : *lines) {
    if (const auto name = sectionOf(line)) {
      inSection = sameName(*name, section);
    } else if (inSection && isKeyLine(line, key)) {
      return valueOf(line);
    }
  }
  return std::nullopt;
}

bool IniFile::write(const std::string& section, const std::string& key,
                    const std::string& value) const {
  if (value.find_first_of("\r\n") != std::string::npos) return false;
  auto existing = readLines(path_);
  // A file that exists but cannot be read is not replaced: its other settings would be lost.
  if (!existing && access(path_.c_str(), R_OK) != 0 && errno != ENOENT) return false;
  std::vector<std::string> lines = existing.value_or(std::vector<std::string>{});
  const std::string entry = key + "=\"" + value + "\"";

  // Replace the key in its section, or add it at the section's end, or add the section.
  bool inSection = false;
  std::optional<std::size_t> sectionEnd;
  bool replaced = false;
  for (std::size_t i = 0; i < lines.size() && !replaced; ++i) {
    if (const auto name = sectionOf(lines[i])) {
      inSection = sameName(*name, section);
      if (inSection) sectionEnd = i + 1;
    } else if (inSection && isKeyLine(lines[i], key)) {
      lines[i] = entry;
      replaced = true;
    } else if (inSection && !trimmed(lines[i]).empty()) {
      sectionEnd = i + 1;
    }
  }
  if (!replaced && sectionEnd) {
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*sectionEnd), entry);
  } else if (!replaced) {
    if (!lines.empty() && !trimmed(lines.back()).empty()) lines.emplace_back();
    lines.push_back("[" + section + "]");
    lines.push_back(entry);
  }

  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return replaceFile(path_, text);
}

}  // namespace parvo
