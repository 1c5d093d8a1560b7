#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace cabtest {

// A member of a cabinet written by hand, its name stored exactly as given.
struct RawMember {
  std::string name;  // bytes as stored, '\' separated
  std::string data;
  std::uint16_t attributes = 0x20;
};

inline void putLittleEndian(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// How the folder's 32 KiB blocks are coded: as they are, or MSZIP ("CK" and a raw deflate stream
// that may refer back into the 32 KiB before the block, as the cabinet maker's own tool does).
enum class BlockCoding { kStored, kMszip };

inline std::string mszipBlock(const std::string& chunk, const std::string& window) {
  z_stream stream{};
  deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  if (!window.empty()) {
    deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(window.data()),
                         static_cast<uInt>(window.size()));
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(chunk.size())) + 2, '\0');
  out[0] = 'C';
  out[1] = 'K';
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(chunk.data()));
  stream.avail_in = static_cast<uInt>(chunk.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data() + 2);
  stream.avail_out = static_cast<uInt>(out.size() - 2);
  deflate(&stream, Z_FINISH);
  out.resize(out.size() - stream.avail_out);
  deflateEnd(&stream);
  return out;
}

// A cabinet written by hand with one folder; blockReserve bytes of 0xEE are reserved in every
// data block's header (the header then says so). Blocks carry no checksum.
inline std::string handMadeCabinet(const std::vector<RawMember>& members, BlockCoding coding,
                                   std::uint8_t blockReserve = 0) {
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
  std::string window;
  for (std::size_t start = 0; start < folderData.size() || blockCount == 0; start += 32768) {
    const std::string chunk = folderData.substr(start, 32768);
    const std::string coded = coding == BlockCoding::kStored ? chunk : mszipBlock(chunk, window);
    window = (window + chunk)
                 .substr(window.size() + chunk.size() > 32768 ? window.size() + chunk.size() - 32768
                                                              : 0);
    putLittleEndian(blocks, 0, 4);  // no checksum
    putLittleEndian(blocks, static_cast<std::uint32_t>(coded.size()), 2);
    putLittleEndian(blocks, static_cast<std::uint32_t>(chunk.size()), 2);
    blocks.append(blockReserve, '\xEE');
    blocks += coded;
    ++blockCount;
  }
  const std::uint32_t headerSize = blockReserve > 0 ? 36 + 4 : 36;
  const std::uint32_t filesOffset = headerSize + 8;
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
  putLittleEndian(cabinet, blockReserve > 0 ? 0x0004 : 0, 2);  // flags: reserved fields present
  putLittleEndian(cabinet, 0x1234, 2);
  putLittleEndian(cabinet, 0, 2);
  if (blockReserve > 0) {
    putLittleEndian(cabinet, 0, 2);  // no header reserve
    putLittleEndian(cabinet, 0, 1);  // no folder reserve
    putLittleEndian(cabinet, blockReserve, 1);
  }
  putLittleEndian(cabinet, dataOffset, 4);
  putLittleEndian(cabinet, blockCount, 2);
  putLittleEndian(cabinet, coding == BlockCoding::kStored ? 0 : 1, 2);
  return cabinet + files + blocks;
}

inline std::string storedCabinet(const std::vector<RawMember>& members) {
  return handMadeCabinet(members, BlockCoding::kStored);
}

}  // namespace cabtest
