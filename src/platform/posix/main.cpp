#include <cstdio>

#include "platform/posix/posix_platform.h"
#include "platform/posix/standard_options.h"
#include "startup/run_startup.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  if (const std::optional<std::string> text = parvo::standardOptionText(arguments)) {
    if (std::fputs(text->c_str(), stdout) >= 0 && std::fflush(stdout) == 0) {
      return parvo::kExitSuccess;
    }
    std::fputs("parvo: cannot write to standard output\n", stderr);
    return parvo::kExitRunTimeError;
  }
  parvo::PosixPlatform platform(std::move(arguments));
  return parvo::RunProgram(platform);
}
