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

// What our archivers return when they wrote the archive but left out some of what they were given
// to pack (links leading outside, special files, names the format cannot hold), and name it in
// the output text. Not a failure: the archive is there and the job goes on.
inline constexpr std::int32_t kArchivedWithOmissions = 8;

// What our archivers return when the user stopped them from their own progress window: nothing
// more to tell, but the job did not do what was asked.
inline constexpr std::int32_t kCancelledByUser = 9;

// Whether CallArchiver shows the archiver's text for kArchivedWithOmissions at once, or leaves it
// to the caller, who has more steps to take first.
enum class OmissionsReport { kShowAtOnce, kLeaveToCaller };

// Hands a command line to an archiver with the job's output buffer, as the archivers expect it:
// window 0, text in the archivers' code page, the buffer's size. Both texts come back as the
// archiver left them. A non-zero result other than kCancelledByUser is shown to the user with the
// archiver's own explanation (see OmissionsReport), and returned. A command line that the
// archivers' code page cannot take exactly is not handed over at all: the user is told which path,
// and -1 returned.
std::int32_t CallArchiver(Platform& platform, ArchiverBinding& binding, Archiver archiver,
                          std::wstring& commandLine, std::wstring& outputBuffer,
                          OmissionsReport omissions = OmissionsReport::kShowAtOnce);

// Shows an archiver's non-zero result to the user: its own explanation from the output buffer,
// or the number when it gave none.
void ShowArchiverMessage(Platform& platform, std::int32_t result, const std::wstring& outputBuffer);

}  // namespace parvo
