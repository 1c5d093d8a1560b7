#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cabtest {

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
