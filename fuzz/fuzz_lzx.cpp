// LZX round trip: the fuzz bytes choose a window (2^15 to 2^21), call translation, file sizes and
// data (short inputs may be repeated out to several frames); our compressor codes them as one
// folder of a cabinet, and libmspack's cabinet decompressor must give back every byte.
#include <mspack.h>

#include <memory>

#include "cab/block_checksum.h"
#include "cab/lzx_compressor.h"
#include "fuzz_support.h"

namespace {

using fuzz::check;

// One folder, one member named "f", the data blocks as the writer lays them out.
std::string cabinetOf(const std::vector<std::uint8_t>& data, int windowBits, bool translate,
                      std::size_t fileBytes) {
  // Reused from input to input as a worker reuses it: nothing of one folder may leak into the
  // next. Matches are found on a second thread, as on a machine with more than one core.
  static std::unique_ptr<archivers::cab::BlockCompressor> compressors[7];
  auto& compressor = compressors[windowBits - 15];
  if (!compressor) compressor = archivers::cab::makeLzxCompressor(windowBits, 2);
  archivers::cab::FolderTraits traits{data.size(), translate, {}};
  for (std::size_t at = 0; fileBytes != 0 && at < data.size(); at += fileBytes) {
    traits.memberStarts.push_back(static_cast<std::uint32_t>(at));
  }
  compressor->startFolder(traits);
  std::string blocks;
  std::uint16_t blockCount = 0;
  for (std::size_t at = 0; at < data.size(); at += archivers::cab::kBlockBytes) {
    const std::size_t size = std::min(archivers::cab::kBlockBytes, data.size() - at);
    for (const auto& coded : compressor->compressDataBlock({data.data() + at, size})) {
      const std::string sizes = le(coded.bytes.size(), 2) + le(coded.uncompressedSize, 2);
      const std::uint32_t sum = archivers::cab::blockChecksum(
          reinterpret_cast<const std::uint8_t*>(sizes.data()), 4,
          archivers::cab::blockChecksum(coded.bytes.data(), coded.bytes.size(), 0));
      blocks += le(sum, 4) + sizes + std::string(coded.bytes.begin(), coded.bytes.end());
      ++blockCount;
    }
  }
  // The header, one folder, the file "f" in it (dated 2020-01-01), then the blocks.
  const std::size_t dataStart = 36 + 8 + 16 + 2;
  return "MSCF" + le(0, 4) + le(dataStart + blocks.size(), 4) + le(0, 4) + le(36 + 8, 4) +
         le(0, 4) + le(0x0103, 2) + le(1, 2) + le(1, 2) + le(0, 6) + le(dataStart, 4) +
         le(blockCount, 2) + le(compressor->folderType(), 2) + le(data.size(), 4) + le(0, 6) +
         le(0x5021, 2) + le(0, 2) + le(0x20, 2) + "f" + '\0' + blocks;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  if (size < 2) return 0;
  const int windowBits = 15 + input[0] % 7;
  const bool translate = (input[1] & 1) != 0;
  std::vector<std::uint8_t> data(input + 2, input + size);
  // Repeated, a short input reaches across frames and far back into the window.
  if ((input[1] & 2) != 0 && !data.empty()) {
    const std::size_t length = std::size_t{4096} << (input[1] >> 4 & 7);
    while (data.size() < length) data.insert(data.end(), data.begin(), data.end());
    data.resize(length);
  }
  // As if packed from files of one size, where blocks may be cut mid-frame.
  const std::size_t fileBytes = (input[1] & 4) != 0 ? 500 + std::size_t{input[0]} * 37 : 0;
  const std::string packed = fuzz::workFolder() / "packed.cab";
  const std::string out = fuzz::workFolder() / "out";
  writeFile(packed, cabinetOf(data, windowBits, translate, fileBytes));

  mscab_decompressor* decompressor = mspack_create_cab_decompressor(nullptr);
  mscabd_cabinet* opened = decompressor->open(decompressor, packed.c_str());
  check(opened != nullptr && opened->files != nullptr);
  check(decompressor->extract(decompressor, opened->files, out.c_str()) == MSPACK_ERR_OK);
  check(readFile(out) == std::string(data.begin(), data.end()));
  decompressor->close(decompressor, opened);
  mspack_destroy_cab_decompressor(decompressor);
  return 0;
}
