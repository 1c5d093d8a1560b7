// Round trip through the cabinet writer: the fuzz bytes describe a tree (folders, files, links to
// files packed beside them, names with non-ASCII letters and dots, contents short and long enough
// to span blocks), which `Cab -a` packs; libmspack then reads the cabinet back and every name and
// byte must match the tree.
#include <mspack.h>

#include "fuzz_support.h"

extern "C" int32_t Cab(int32_t window, const char* commandLine, char* output, int32_t size);

namespace {

using namespace fuzz;

// What libmspack reads back: stored name ('\' turned to '/') to bytes.
Contents readBack(const std::string& cabinet) {
  Contents files;
  mscab_decompressor* decompressor = mspack_create_cab_decompressor(nullptr);
  mscabd_cabinet* opened = decompressor->open(decompressor, cabinet.c_str());
  check(opened != nullptr);
  const std::string extracted = (workFolder() / "member").string();
  for (mscabd_file* file = opened->files; file != nullptr; file = file->next) {
    check(decompressor->extract(decompressor, file, extracted.c_str()) == MSPACK_ERR_OK);
    std::string name = file->filename;
    std::replace(name.begin(), name.end(), '\\', '/');
    files[name] = readFile(extracted);
  }
  decompressor->close(decompressor, opened);
  mspack_destroy_cab_decompressor(decompressor);
  return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes bytes(data, size);
  const fs::path tree = workFolder() / "tree";
  const Contents expected =
      makeTree(bytes, tree, {"a", "b", "Z", ".", "-", " ", "0", "\xE6\x97\xA5"}, false);
  const std::string cabinet = (workFolder() / "packed.cab").string();
  fs::remove(cabinet);
  const int32_t result = callIn(tree, Cab, "-a -r -ml:21 \"" + cabinet + "\" *.*");
  if (expected.empty()) {
    check(result == 4 && !fs::exists(cabinet));
    return 0;
  }
  check(result == 0);
  check(readBack(cabinet) == expected);
  return 0;
}
