#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <map>

#include "support/temporary_folder.h"

// Deterministic bytes that do not compress.
inline std::string noise(std::size_t size, std::uint32_t seed) {
  std::string bytes(size, '\0');
  for (char& byte : bytes) {
    seed = seed * 1664525u + 1013904223u;
    byte = static_cast<char>(seed >> 24);
  }
  return bytes;
}

// Text that compresses but is not trivially repetitive, so that it spans several windows and
// several code tables of the LZ-Huffman methods.
inline std::string varyingText(std::size_t size) {
  std::string text;
  std::uint32_t seed = 7;
  while (text.size() < size) {
    seed = seed * 1103515245u + 12345u;
    text += "line " + std::to_string(text.size()) + " value " + std::to_string(seed % 1000) +
            ((seed >> 16) % 3 == 0 ? " lorem ipsum dolor sit amet\n" : "\n");
  }
  return text;
}

// The tree the round trips share: an empty file, an executable, a long run, varied text,
// incompressible bytes, deep folders and non-ASCII names.
inline std::map<std::string, std::string> sampleFiles() {
  return {
      {"readme.txt", "top level\n"},
      {"empty", ""},
      {"run.sh", "#!/bin/sh\necho hi\n"},
      {"text.txt", varyingText(320 * 1024)},
      {"noise.bin", noise(300000, 42)},
      {"a/long run.txt", std::string(5000, 'a') + "tail"},
      {"a/b/c/deep.txt", "deep\n"},
      {"\xE6\x97\xA5\xE6\x9C\xAC/\xC3\xBCnicode \xE5\x90\x8D.txt", "utf-8 named\n"},
  };
}

inline constexpr std::int64_t kSampleMtime = 1600000000;  // even: DOS times keep it exactly

inline void setMtime(const std::filesystem::path& entry, std::int64_t seconds = kSampleMtime) {
  const timespec times[2] = {{seconds, 0}, {seconds, 0}};
  utimensat(AT_FDCWD, entry.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// Writes files under root, each dated kSampleMtime; names ending in ".sh" are executable.
inline void writeFiles(const std::filesystem::path& root,
                       const std::map<std::string, std::string>& files) {
  for (const auto& [name, contents] : files) {
    writeFile(root / name, contents);
    chmod((root / name).c_str(), name.ends_with(".sh") ? 0755 : 0644);
    setMtime(root / name);
  }
}
