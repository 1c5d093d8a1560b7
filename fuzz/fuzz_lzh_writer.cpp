// Round trip through the LZH writer of a tree made from the fuzz bytes (fuzz_support.h), empty
// folders included: every name and byte must come back. An archive of no members makes no folder.
#include "fuzz_support.h"

extern "C" int32_t Unlha(int32_t window, const char* commandLine, char* output, int32_t size);

using namespace fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes bytes(data, size);
  // 日, 表 (CP932 95 5C), é and an emoji that CP932 cannot hold.
  const Contents expected = makeTree(bytes, workFolder() / "tree",
                                     {"a", "b", "Z", ".", "-", " ", "\xE6\x97\xA5", "\xE8\xA1\xA8",
                                      "\xC3\xA9", "\xF0\x9F\x98\x80"},
                                     true);
  roundTrip(Unlha, expected, "packed.lzh", "a -rx", "e -rxy", 0, true);
  return 0;
}
