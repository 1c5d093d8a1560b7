#include "platform/posix/posix_platform.h"
#include "startup/run_startup.h"

int main(int argc, char** argv) {
  parvo::PosixPlatform platform(std::vector<std::string>(argv + 1, argv + argc));
  return parvo::RunProgram(platform);
}
