#pragma once

#include <optional>
#include <string>

namespace parvo {

// A per-application INI file: "[section]" headers and "key=value" lines. Values are written in
// double quotes so that blanks at either end survive; a value read without quotes is trimmed.
// Section and key names compare without regard to ASCII case.
class IniFile {
 public:
  explicit IniFile(std::string path) : path_(std::move(path)) {}

  // Nothing when the file, section or key is absent, or the file is unreadable or not text.
  std::optional<std::string> read(const std::string& section, const std::string& key) const;

  // Replaces the file atomically, keeping its other lines; a reader sees the old file or the
  // new one, never a mix. Creates the folder when needed. False when it cannot be written.
  bool write(const std::string& section, const std::string& key, const std::string& value) const;

 private:
  std::string path_;
};

}  // namespace parvo
