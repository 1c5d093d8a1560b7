#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

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
  static inline std::vector<Call> calls;
  static inline std::int32_t result = 0;
  static inline std::string output;

  static void reset() {
    calls.clear();
    result = 0;
    output.clear();
  }

  template <const char* Name>
  static std::int32_t entry(std::int32_t, const char* commandLine, char* buffer,
                            std::int32_t size) {
    calls.push_back({Name, commandLine, size});
    std::memcpy(buffer, output.data(), std::min<std::size_t>(output.size(), size));
    return result;
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
  windows.registerLibrary(L"cab32.dll", {{"Cab", address(&entry<kCab>)}});
  windows.registerLibrary(L"UNLHA32.DLL", {{"Unlha", address(&entry<kUnlha>)}});
  windows.registerLibrary(L"UNZIP32.DLL", {{"UnZip", address(&entry<kUnZip>)}});
  windows.registerLibrary(L"TAR32.DLL", {{"Tar", address(&entry<kTar>)}});
  windows.registerLibrary(L"UNARJ32.DLL", {{"UnArj", address(&entry<kUnArj>)}});
}

}  // namespace parvo
