// A stand-in for the five archiver libraries in the Windows tests, never shipped: each DLL built
// from this file exports its own entry points (see CMakeLists.txt) and appends every call to the
// file that PARVO_FAKE_LOG names. "Cab -a" writes the cabinet it names, after which CabGetRunning
// reports busy PARVO_FAKE_BUSY times, and unlogged for as long as the file PARVO_FAKE_HOLD names
// exists.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>

#include "job/archivers/archiver_binding.h"

namespace {

int busyPolls = 0;

const char* environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

void log(const std::string& line) {
  if (FILE* file = std::fopen(environment("PARVO_FAKE_LOG"), "ab")) {
    std::fputs((line + "\n").c_str(), file);
    std::fclose(file);
  }
}

std::int32_t call(const char* entryPoint, std::int32_t window, const char* commandLine,
                  char* output, std::int32_t size) {
  const bool outputEmpty = size > 0 && output[0] == '\0' &&
                           std::memcmp(output, output + 1, static_cast<std::size_t>(size - 1)) == 0;
  log(std::string(FAKE_LIBRARY "!") + entryPoint + " window=" + std::to_string(window) +
      " size=" + std::to_string(size) + (outputEmpty ? " output=empty" : " output=text") + " [" +
      commandLine + "]");
  const std::string line = commandLine;
  if (std::strcmp(entryPoint, "Cab") == 0 && line.starts_with("-a ")) {
    const std::size_t open = line.find('"') + 1;
    const std::string path = line.substr(open, line.find('"', open) - open);
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
      std::fputs("MSCF", file);
      std::fclose(file);
      log(FAKE_LIBRARY " wrote " + path);
    }
    busyPolls = std::atoi(environment("PARVO_FAKE_BUSY"));
  }
  return 0;
}

}  // namespace

extern "C" {

#define FAKE_ENTRY_POINT(name)                                                        \
  std::int32_t PARVO_ARCHIVER_CALL name(std::int32_t window, const char* commandLine, \
                                        char* output, std::int32_t size) {            \
    return call(#name, window, commandLine, output, size);                            \
  }                                                                                   \
  static_assert(std::is_same_v<decltype(&name), parvo::ArchiverFunction>);

FAKE_ENTRY_POINT(Cab)
FAKE_ENTRY_POINT(Unlha)
FAKE_ENTRY_POINT(UnZip)
FAKE_ENTRY_POINT(Tar)
FAKE_ENTRY_POINT(UnArj)

std::int32_t PARVO_ARCHIVER_CALL CabGetRunning() {
  const std::string hold = environment("PARVO_FAKE_HOLD");
  if (!hold.empty() && GetFileAttributesA(hold.c_str()) != INVALID_FILE_ATTRIBUTES) {
    Sleep(50);
    return 1;
  }
  const bool busy = busyPolls > 0;
  busyPolls -= busy ? 1 : 0;
  log(std::string(FAKE_LIBRARY "!CabGetRunning ") + (busy ? "busy" : "idle"));
  return busy ? 1 : 0;
}
static_assert(std::is_same_v<decltype(&CabGetRunning), parvo::CabGetRunningFunction>);
}
