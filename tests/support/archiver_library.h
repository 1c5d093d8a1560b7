#pragma once

#include <dlfcn.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "support/temporary_folder.h"

// The libraries' result codes.
enum : int32_t { kOk = 0, kBadCommandLine = 1, kCannotOpen = 2, kCorrupt = 3, kUnsupported = 4 };
enum : int32_t { kWriteFailed = 5, kEntriesRefused = 6, kLeftOut = 8 };

// A library, its entry point and the options Parvo extracts with.
struct Archiver {
  const char* library;
  const char* entryPoint;
  const char* extractOptions;
};
inline constexpr Archiver kCab{"libcab32.so", "Cab", "-x -o -r"};
inline constexpr Archiver kLzh{"libunlha32.so", "Unlha", "e -rxy"};
inline constexpr Archiver kZip{"libunzip32.so", "UnZip", "-xv"};
inline constexpr Archiver kTar{"libtar32.so", "Tar", "-xvf"};
inline constexpr Archiver kArj{"libunarj32.so", "UnArj", "x -u"};

// Calls an archiver library's entry point the way Parvo does: the built shared library is loaded
// from the build tree and called with a command line and a 256-byte output buffer.
struct ArchiverResult {
  int32_t code;
  std::string output;
};

inline ArchiverResult callArchiver(const Archiver& archiver, const std::string& commandLine) {
  using Entry = int32_t (*)(int32_t, const char*, char*, int32_t);
  const std::string path = std::string(PARVO_LIBRARY_DIR) + "/" + archiver.library;
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) throw std::runtime_error("cannot load " + path + ": " + dlerror());
  auto entry = reinterpret_cast<Entry>(dlsym(handle, archiver.entryPoint));
  if (entry == nullptr)
    throw std::runtime_error(std::string("no entry point ") + archiver.entryPoint + " in " + path);
  char output[256] = {};
  const int32_t code = entry(0, commandLine.c_str(), output, sizeof output);
  dlclose(handle);
  return {code, output};
}

// Extracts archive into destination with the command line Parvo hands the library.
inline ArchiverResult extractWith(const Archiver& archiver, const std::filesystem::path& archive,
                                  const std::filesystem::path& destination) {
  return callArchiver(archiver, std::string(archiver.extractOptions) + " \"" + archive.string() +
                                    "\" \"" + destination.string() + "/\"");
}

// Packs the way Parvo does: the library is called with the folder as the current folder, so the
// command line's "*.*" is that folder's contents.
inline ArchiverResult packIn(const std::filesystem::path& folder, const Archiver& archiver,
                             const std::string& commandLine) {
  const InFolder in(folder);
  return callArchiver(archiver, commandLine);
}
