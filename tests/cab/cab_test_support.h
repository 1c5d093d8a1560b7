#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/archiver_library.h"
#include "support/process.h"
#include "support/temporary_folder.h"

namespace cabtest {

namespace fs = std::filesystem;

inline ArchiverResult extractCab(const std::string& archive, const std::string& destination) {
  return callArchiver("libcab32.so", "Cab",
                      "-x -o -r \"" + archive + "\" \"" + destination + "/\"");
}

// Regular files under root by relative path, with their contents.
inline std::map<std::string, std::string> readTree(const fs::path& root) {
  std::map<std::string, std::string> files;
  if (!fs::exists(root)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) {
      files[fs::relative(entry.path(), root).generic_string()] = readFile(entry.path());
    }
  }
  return files;
}

// Every name under root, folders and leftovers included.
inline std::vector<std::string> listEverything(const fs::path& root) {
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    names.push_back(fs::relative(entry.path(), root).generic_string());
  }
  return names;
}

// Runs a peer tool found on PATH in directory; fails the test when it does not succeed.
inline void runTool(const std::vector<std::string>& argv, const fs::path& directory) {
  std::vector<std::string> resolved = argv;
  for (const char* folder : {"/usr/bin/", "/bin/", "/usr/local/bin/"}) {
    if (fs::exists(folder + argv[0])) {
      resolved[0] = folder + argv[0];
      break;
    }
  }
  const ProcessResult result =
      runProcess(resolved, {"PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8"}, directory.string());
  ASSERT_EQ(result.exitStatus, 0) << argv[0] << ": " << result.output;
}

// A cabinet written by hand: one uncompressed folder, member names stored exactly as given.
struct RawMember {
  std::string name;  // bytes as stored, '\' separated
  std::string data;
  std::uint16_t attributes = 0x20;
};

inline void putLittleEndian(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

inline std::string storedCabinet(const std::vector<RawMember>& members) {
  std::string folderData;
  std::string files;
  for (const RawMember& member : members) {
    putLittleEndian(files, static_cast<std::uint32_t>(member.data.size()), 4);
    putLittleEndian(files, static_cast<std::uint32_t>(folderData.size()), 4);
    putLittleEndian(files, 0, 2);       // folder 0
    putLittleEndian(files, 0x5022, 2);  // 2020-01-02
    putLittleEndian(files, 0x1883, 2);  // 03:04:06
    putLittleEndian(files, member.attributes, 2);
    files += member.name;
    files.push_back('\0');
    folderData += member.data;
  }
  std::string blocks;
  std::uint32_t blockCount = 0;
  for (std::size_t start = 0; start < folderData.size() || blockCount == 0; start += 32768) {
    const std::string chunk = folderData.substr(start, 32768);
    putLittleEndian(blocks, 0, 4);  // no checksum
    putLittleEndian(blocks, static_cast<std::uint32_t>(chunk.size()), 2);
    putLittleEndian(blocks, static_cast<std::uint32_t>(chunk.size()), 2);
    blocks += chunk;
    ++blockCount;
  }
  const std::uint32_t filesOffset = 36 + 8;
  const std::uint32_t dataOffset = filesOffset + static_cast<std::uint32_t>(files.size());
  std::string cabinet = "MSCF";
  putLittleEndian(cabinet, 0, 4);
  putLittleEndian(cabinet, dataOffset + static_cast<std::uint32_t>(blocks.size()), 4);
  putLittleEndian(cabinet, 0, 4);
  putLittleEndian(cabinet, filesOffset, 4);
  putLittleEndian(cabinet, 0, 4);
  cabinet += "\x03\x01";
  putLittleEndian(cabinet, 1, 2);  // folders
  putLittleEndian(cabinet, static_cast<std::uint32_t>(members.size()), 2);
  putLittleEndian(cabinet, 0, 2);  // flags
  putLittleEndian(cabinet, 0x1234, 2);
  putLittleEndian(cabinet, 0, 2);
  putLittleEndian(cabinet, dataOffset, 4);
  putLittleEndian(cabinet, blockCount, 2);
  putLittleEndian(cabinet, 0, 2);  // no compression
  return cabinet + files + blocks;
}

}  // namespace cabtest
