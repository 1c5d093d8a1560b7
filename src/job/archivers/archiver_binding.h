#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace parvo {

// The archiver entry points the program declares, each bound by library and entry-point name.
enum class Archiver { kCab, kUnlha, kUnZip, kTar, kUnArj };

// The libraries' calling convention: __stdcall on 32-bit Windows, the C one elsewhere.
#if defined(_WIN32)
#define PARVO_ARCHIVER_CALL __stdcall
#else
#define PARVO_ARCHIVER_CALL
#endif

using ArchiverFunction = std::int32_t(PARVO_ARCHIVER_CALL*)(std::int32_t window,
                                                            const char* commandLine, char* output,
                                                            std::int32_t size);
using CabGetRunningFunction = std::int32_t(PARVO_ARCHIVER_CALL*)();

// Resolves declared functions on their first call and keeps them for the rest of the run: a
// library that no job needs is never loaded. Raises 48 when a library cannot be loaded and 453
// when it lacks the entry point.
class ArchiverBinding {
 public:
  explicit ArchiverBinding(Platform& platform) : platform_(platform) {}

  ArchiverFunction entryPoint(Archiver archiver);
  CabGetRunningFunction cabGetRunning();

 private:
  void* resolve(const std::wstring& library, const std::string& entryPoint);

  Platform& platform_;
  std::map<std::wstring, std::unique_ptr<LoadedLibrary>> libraries_;
  std::map<std::string, void*> entryPoints_;
};

// Hands a command line to an archiver with the job's output buffer, as the archivers expect it:
// window 0, text in the archivers' code page, the buffer's size. Both texts come back as the
// archiver left them. A non-zero result is shown to the user with the archiver's own
// explanation, and returned.
std::int32_t CallArchiver(Platform& platform, ArchiverBinding& binding, Archiver archiver,
                          std::wstring& commandLine, std::wstring& outputBuffer);

}  // namespace parvo
