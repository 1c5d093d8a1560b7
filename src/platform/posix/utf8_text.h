#pragma once

#include <string>
#include <string_view>

namespace parvo {

// UTF-8 to wide text. Bytes that are not valid UTF-8 become U+DC80..U+DCFF, so that any Linux
// file name survives the round trip through toUtf8 byte for byte.
std::wstring fromUtf8(std::string_view bytes);
std::string toUtf8(std::wstring_view text);

}  // namespace parvo
