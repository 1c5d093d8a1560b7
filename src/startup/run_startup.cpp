#include "startup/run_startup.h"

#include "job/run_job.h"
#include "runtime/run_time_error.h"
#include "startup/split_arguments.h"

namespace parvo {

void RunStartup(Platform& platform) {
  const std::wstring text = platform.argumentText();
  if (text.empty()) {
    platform.runSettingsDialog();
    return;
  }
  for (const std::wstring& path : SplitArguments(text)) {
    RunJob(platform, path);
  }
}

int RunProgram(Platform& platform) {
  try {
    RunStartup(platform);
    return 0;
  } catch (const RunTimeError& error) {
    platform.showMessage(runTimeErrorMessage(error), kApplicationTitle);
    return 1;
  }
}

}  // namespace parvo
