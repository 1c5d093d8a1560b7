#include <windows.h>

#include "platform/win32/win32_platform.h"
#include "startup/run_startup.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  parvo::Win32Platform platform;
  return parvo::RunProgram(platform);
}
