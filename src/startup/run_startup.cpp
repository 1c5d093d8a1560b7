#include "startup/run_startup.h"

#include "job/archivers/archiver_binding.h"
#include "job/run_job.h"
#include "runtime/application.h"
#include "runtime/run_time_error.h"
#include "startup/split_arguments.h"

namespace parvo {

void RunStartup(Platform& platform) {
  const std::wstring text = platform.argumentText();
  if (text.empty()) {
    platform.runSettingsDialog();
    return;
  }
  ArchiverBinding binding(platform);
  for (const std::wstring& path : SplitArguments(text)) {
    RunJob(platform, binding, path);
  }
}

int RunProgram(Platform& platform) {
  try {
    RunStartup(platform);
    return 0;
  } catch (const RunTimeError& error) {
    platform.showMessage(runTimeErrorMessage(error), kApplicationTitle);
  } catch (const std::bad_alloc&) {
    platform.showMessage(runTimeErrorMessage(standardError(kOutOfMemory)), kApplicationTitle);
  }
  return 1;
}

}  // namespace parvo
