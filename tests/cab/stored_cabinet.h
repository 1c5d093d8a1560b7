#pragma once

#include <zlib.h>

#include "support/bit_stream.h"

namespace cabtest {

// A member of a cabinet written by hand, its name stored exactly as given.
struct RawMember {
  std::string name;  // bytes as stored, '\' separated
  std::string data;
};

// How the folder's 32 KiB blocks are coded: as they are, or MSZIP ("CK" and a raw deflate stream
// that may refer back into the 32 KiB before the block, as the cabinet maker's own tool does).
enum class BlockCoding { kStored, kMszip };

inline std::string mszipBlock(const std::string& chunk, const std::string& window) {
  z_stream stream{};
  deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(window.data()),
                       static_cast<uInt>(window.size()));
  std::string out =
      "CK" + std::string(deflateBound(&stream, static_cast<uLong>(chunk.size())), '\0');
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
inline std::string handMadeCabinet(const std::vector<RawMember>& members,
                                   BlockCoding coding = BlockCoding::kStored,
                                   std::uint8_t blockReserve = 0) {
  std::string folderData, files, blocks, window;
  for (const RawMember& member : members) {
    // In folder 0, dated 2020-01-02 03:04:06, attributes 0x20.
    files += le(member.data.size(), 4) + le(folderData.size(), 4) + le(0, 2) + le(0x5022, 2) +
             le(0x1883, 2) + le(0x20, 2) + member.name + '\0';
    folderData += member.data;
  }
  std::uint32_t blockCount = 0;
  for (std::size_t start = 0; start < folderData.size() || blockCount == 0; start += 32768) {
    const std::string chunk = folderData.substr(start, 32768);
    const std::string coded = coding == BlockCoding::kStored ? chunk : mszipBlock(chunk, window);
    window = chunk;  // every block but the last holds 32 KiB
    blocks += le(0, 4) + le(coded.size(), 2) + le(chunk.size(), 2) +
              std::string(blockReserve, '\xEE') + coded;
    ++blockCount;
  }
  // With reserved fields (flag 4): none in the header or the folder, blockReserve in each block.
  const std::string reserve = blockReserve > 0 ? le(0, 3) + le(blockReserve, 1) : "";
  const std::size_t filesOffset = 36 + reserve.size() + 8;
  const std::size_t dataOffset = filesOffset + files.size();
  return "MSCF" + le(0, 4) + le(dataOffset + blocks.size(), 4) + le(0, 4) + le(filesOffset, 4) +
         le(0, 4) + le(0x0103, 2) + le(1, 2) + le(members.size(), 2) +
         le(reserve.empty() ? 0 : 4, 2) + le(0x1234, 2) + le(0, 2) + reserve + le(dataOffset, 4) +
         le(blockCount, 2) + le(coding == BlockCoding::kStored ? 0 : 1, 2) + files + blocks;
}

}  // namespace cabtest
