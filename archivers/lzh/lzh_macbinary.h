#pragma once

#include <cstdint>
#include <optional>

#include "lzh/lzh_header.h"

namespace archivers::lzh {

constexpr std::size_t kMacBinaryHeaderSize = 128;

// Mac writers may wrap a member's data in a MacBinary header of their own, with the resource
// fork after the data fork. When the first 128 decoded bytes are such a header and agree with the
// member header (same name, lengths that add up, a close modification time), returns how many
// bytes after it are the file itself: the data fork, or the resource fork when there is no data.
std::optional<std::uint64_t> macBinaryContentLength(const std::uint8_t* first,
                                                    const MemberHeader& header);

}  // namespace archivers::lzh
