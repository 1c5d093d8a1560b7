#pragma once

#include <dlfcn.h>

#include <cstdint>
#include <stdexcept>
#include <string>

// Calls an archiver library's entry point the way Parvo does: the built shared library is
// loaded from the build tree and called with a command line and a 256-byte output buffer.
struct ArchiverResult {
  int32_t code;
  std::string output;
};

inline ArchiverResult callArchiver(const std::string& library, const std::string& entryPoint,
                                   const std::string& commandLine) {
  using Entry = int32_t (*)(int32_t, const char*, char*, int32_t);
  const std::string path = std::string(PARVO_LIBRARY_DIR) + "/" + library;
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) throw std::runtime_error("cannot load " + path + ": " + dlerror());
  auto entry = reinterpret_cast<Entry>(dlsym(handle, entryPoint.c_str()));
  if (entry == nullptr) throw std::runtime_error("no entry point " + entryPoint + " in " + path);
  char output[256] = {};
  const int32_t code = entry(0, commandLine.c_str(), output, sizeof output);
  dlclose(handle);
  return {code, output};
}
