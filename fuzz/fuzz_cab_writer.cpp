// Round trip through the cabinet writer of a tree made from the fuzz bytes (fuzz_support.h): every
// name and byte must come back. A tree of no files makes no cabinet.
#include "fuzz_support.h"

extern "C" int32_t Cab(int32_t window, const char* commandLine, char* output, int32_t size);

using namespace fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes bytes(data, size);
  const Contents expected = makeTree(bytes, workFolder() / "tree",
                                     {"a", "b", "Z", ".", "-", " ", "0", "\xE6\x97\xA5"}, false);
  roundTrip(Cab, expected, "packed.cab", "-a -r -ml:21", "-x -o -r", 4, false);
  return 0;
}
