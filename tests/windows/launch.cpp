// Starts a program with the exact command line in PARVO_COMMAND_LINE, which Wine's own start
// would quote afresh, waits for it and exits with its exit code.
#include <windows.h>

#include <string>

int main() {
  std::wstring commandLine(32768, L'\0');
  const DWORD length = GetEnvironmentVariableW(L"PARVO_COMMAND_LINE", commandLine.data(),
                                               static_cast<DWORD>(commandLine.size()));
  if (length == 0 || length >= commandLine.size()) return 125;
  commandLine.resize(length);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return 126;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 127;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(exitCode);
}
