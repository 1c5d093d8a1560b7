#pragma once

#include <cstdint>
#include <cstring>
#include <functional>

#include "support/simulated_windows.h"

namespace parvo {

// Stand-ins for the archiver libraries on the simulated Windows machine: they record each
// command line and answer with a chosen result and output text.
struct RecordingArchiver {
  struct Call {
    std::string entryPoint;
    std::string commandLine;
    std::int32_t size;
  };
  static inline std::vector<Call> calls;  // CabGetRunning polls included, in order
  static inline std::int32_t result = 0;
  static inline std::string output;
  // Polls of CabGetRunning that answer "busy" after each call.
  static inline int busyPollsAfterCall = 0;
  static inline int busyPollsLeft = 0;
  // Runs inside each call, e.g. to make the file the call would write.
  static inline std::function<void(const Call&)> onCall;

  static void reset() {
    calls.clear();
    result = 0;
    output.clear();
    busyPollsAfterCall = busyPollsLeft = 0;
    onCall = nullptr;
  }

  template <const char* Name>
  static std::int32_t entry(std::int32_t, const char* commandLine, char* buffer,
                            std::int32_t size) {
    calls.push_back({Name, commandLine, size});
    if (onCall) onCall(calls.back());
    std::memcpy(buffer, output.data(), std::min<std::size_t>(output.size(), size));
    busyPollsLeft = busyPollsAfterCall;
    return result;
  }

  static std::int32_t cabGetRunning() {
    calls.push_back({"CabGetRunning", "", 0});
    if (busyPollsLeft == 0) return 0;
    --busyPollsLeft;
    return 1;
  }

  static void installAll(SimulatedWindows& windows);
};

inline constexpr char kCab[] = "Cab";
inline constexpr char kUnlha[] = "Unlha";
inline constexpr char kUnZip[] = "UnZip";
inline constexpr char kTar[] = "Tar";
inline constexpr char kUnArj[] = "UnArj";

inline void RecordingArchiver::installAll(SimulatedWindows& windows) {
  auto address = [](auto function) { return reinterpret_cast<void*>(function); };
  windows.registerLibrary(
      L"cab32.dll", {{"Cab", address(&entry<kCab>)}, {"CabGetRunning", address(&cabGetRunning)}});
  windows.registerLibrary(L"UNLHA32.DLL", {{"Unlha", address(&entry<kUnlha>)}});
  windows.registerLibrary(L"UNZIP32.DLL", {{"UnZip", address(&entry<kUnZip>)}});
  windows.registerLibrary(L"TAR32.DLL", {{"Tar", address(&entry<kTar>)}});
  windows.registerLibrary(L"UNARJ32.DLL", {{"UnArj", address(&entry<kUnArj>)}});
}

}  // namespace parvo
