// Arbitrary bytes walked as an LZH archive: the header reader, the search for the next header
// after a damaged one, and every member the decoders can handle, its output counted rather than
// written. Damage must surface as ArchiveError, never as a crash, an overrun or a hang.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "common/archive_error.h"
#include "common/input_file.h"
#include "lzh/lzh_header.h"
#include "lzh/lzh_member_decoder.h"

namespace {

constexpr std::uint64_t kMaxOutput = 1 << 20;

struct CountingSink : archivers::ByteSink {
  std::uint64_t total = 0;
  void write(const std::uint8_t*, std::size_t size) override { total += size; }
};

const std::string& archivePath() {
  static const std::string path = [] {
    std::string pattern = "/tmp/fuzz_lzh-XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) std::abort();
    close(fd);
    return pattern;
  }();
  return path;
}

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
  CountingSink sink;
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
  FILE* out = std::fopen(archivePath().c_str(), "wb");
  if (out == nullptr) std::abort();
  std::fwrite(data, 1, size, out);
  std::fclose(out);
  try {
    archivers::InputFile file(archivePath());
    walkArchive(file);
  } catch (const archivers::ArchiveError& error) {
    if (!isAllowed(error)) std::abort();
  }
  return 0;
}
