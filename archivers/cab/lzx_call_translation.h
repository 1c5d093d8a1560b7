#pragma once

#include <cstddef>
#include <cstdint>

namespace archivers::cab::lzx {

// E8 call translation: the displacement after each E8 byte becomes the absolute target, so calls
// to one function read alike wherever they are. Readers turn it back within the same bounds, in
// the first 32768 frames (1 GiB) of a folder.
inline constexpr std::uint32_t kTranslatedFrames = 32768;

void translateCalls(std::uint8_t* frame, std::size_t size, std::uint32_t framePosition,
                    std::int32_t translationSize);

}  // namespace archivers::cab::lzx
