// Round trip through the LZH writer: the fuzz bytes describe a tree (folders, empty ones too,
// files, links to files packed beside them, names with CP932 and non-CP932 letters, a 0x5C trail
// byte and dots, contents short and long enough to span blocks), which `Unlha a -rx` packs; the
// library then extracts the archive and every name and byte must match. The extraction makes no
// folder for an archive of no members.
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
  roundTrip(Unlha, expected, "packed.lzh", "a -rx", "e -rxy", 0);
  return 0;
}
