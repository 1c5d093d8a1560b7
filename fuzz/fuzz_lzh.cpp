// Arbitrary bytes walked as an LZH archive: the header reader, the search for the next header
// after a damaged one, and every member the decoders can handle, its output counted rather than
// written. Damage must surface as ArchiveError, never as a crash, an overrun or a hang.
#include "common/archive_error.h"
#include "common/input_file.h"
#include "fuzz_support.h"
#include "lzh/lzh_header.h"
#include "lzh/lzh_member_decoder.h"

namespace {

constexpr std::uint64_t kMaxOutput = 1 << 20;

bool isAllowed(const archivers::ArchiveError& error) {
  return error.result() == archivers::Result::kCorrupt ||
         error.result() == archivers::Result::kCannotOpen;
}

void decodeMember(archivers::InputFile& file, const archivers::lzh::MemberHeader& header) {
  if (header.originalSize > kMaxOutput || !archivers::lzh::isSupportedMethod(header.method)) {
    return;
  }
  archivers::lzh::MemberDecoder decoder(file, header.method, header.compressedSize,
                                        header.originalSize);
  fuzz::CountingSink sink;
  try {
    decoder.decodeTo(sink);
  } catch (const archivers::ArchiveError& error) {
    if (!isAllowed(error)) std::abort();
  }
  if (sink.total > header.originalSize) std::abort();
}

// The walk of the extractor: a damaged header after the first one is skipped by searching on.
void walkArchive(archivers::InputFile& file) {
  using archivers::lzh::readMemberHeader;
  archivers::lzh::HeaderScan scan;
  file.seek(archivers::lzh::findFirstHeader(file));
  std::optional<archivers::lzh::MemberHeader> header = readMemberHeader(file);
  while (header) {
    const std::uint64_t end = header->dataOffset + header->compressedSize;
    std::uint64_t resumeAt = header->dataOffset;
    if (end <= file.size() && end >= header->dataOffset) {
      decodeMember(file, *header);
      file.seek(end);
      try {
        header = readMemberHeader(file);
        continue;
      } catch (const archivers::ArchiveError& error) {
        if (!isAllowed(error)) std::abort();
      }
      resumeAt = end + 1;
    }
    const std::optional<std::uint64_t> found = scan.findNext(file, resumeAt);
    if (!found) return;
    file.seek(*found);
    header = readMemberHeader(file);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    archivers::InputFile file(fuzz::writtenToFile(data, size, "fuzz.lzh"));
    walkArchive(file);
  } catch (const archivers::ArchiveError& error) {
    if (!isAllowed(error)) std::abort();
  }
  return 0;
}
