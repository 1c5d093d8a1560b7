#pragma once

// Reading and rewriting the headers of an ARJ archive held in memory, to make damaged and hostile
// archives from good ones.

#include "common/crc.h"
#include "support/bit_stream.h"

namespace arj_test {

// One header of an archive held in memory: where it starts (its id) and its basic header's bytes,
// first_hdr_size up to the comment's NUL.
struct HeaderSpan {
  std::size_t start;
  std::string basic;
};

// The main header followed by every local header, in order (the archive starts with its id).
inline std::vector<HeaderSpan> headersOf(const std::string& archive) {
  std::vector<HeaderSpan> headers;
  std::size_t position = 0;
  while (position + 4 <= archive.size()) {
    const std::uint32_t size = leAt(archive, position + 2, 2);
    if (size == 0) break;
    headers.push_back({position, archive.substr(position + 4, size)});
    // Past the CRC and the extended headers, then the member's data (the main header has none).
    std::size_t next = position + 4 + size + 4;
    while (leAt(archive, next, 2) != 0) next += 2 + leAt(archive, next, 2) + 4;
    position = next + 2 + (headers.size() == 1 ? 0 : leAt(headers.back().basic, 12, 4));
  }
  return headers;
}

// Rewrites a header's basic bytes, recomputing its size and CRC.
inline std::string withPatchedHeader(const std::string& archive, std::size_t index,
                                     const std::function<void(std::string& basic)>& patch) {
  const HeaderSpan header = headersOf(archive).at(index);
  std::string basic = header.basic;
  patch(basic);
  const std::string rebuilt = "\x60\xEA" + le(basic.size(), 2) + basic +
                              le(archivers::crc32(0, basic.data(), basic.size()), 4);
  return std::string(archive).replace(header.start, 4 + header.basic.size() + 4, rebuilt);
}

inline std::string withName(const std::string& archive, std::size_t index,
                            const std::string& name) {
  return withPatchedHeader(archive, index, [&](std::string& basic) {
    const std::size_t nameStart = static_cast<std::uint8_t>(basic[0]);
    basic.replace(nameStart, basic.find('\0', nameStart) - nameStart, name);
  });
}

}  // namespace arj_test
