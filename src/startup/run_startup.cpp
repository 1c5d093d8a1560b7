#include "startup/run_startup.h"

#include "job/archivers/archiver_binding.h"
#include "job/run_job.h"
#include "runtime/application.h"
#include "runtime/run_time_error.h"
#include "settings/settings_dialog.h"
#include "startup/split_arguments.h"

namespace parvo {

bool RunStartup(Platform& platform) {
  const std::wstring text = platform.argumentText();
  if (text.empty()) {
    ShowForm1(platform);
    return true;
  }
  ArchiverBinding binding(platform);
  bool allCompleted = true;
  for (const std::wstring& path : SplitArguments(text)) {
    if (RunJob(platform, binding, path) != JobOutcome::kCompleted) allCompleted = false;
  }
  return allCompleted;
}

int RunProgram(Platform& platform) {
  try {
    return RunStartup(platform) ? kExitSuccess : kExitJobFailed;
  } catch (const RunTimeError& error) {
    platform.showMessage(runTimeErrorMessage(error), kApplicationTitle);
  } catch (const std::bad_alloc&) {
    platform.showMessage(runTimeErrorMessage(standardError(kOutOfMemory)), kApplicationTitle);
  }
  return kExitRunTimeError;
}

}  // namespace parvo
