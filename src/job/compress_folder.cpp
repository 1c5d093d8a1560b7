#include "job/compress_folder.h"

#include <string_view>

#include "runtime/application.h"

namespace parvo {
namespace {

constexpr wchar_t kUnusablePreference[] = L"圧縮DLLの設定にエラーがあります。";

std::wstring quoted(const std::wstring& text) {
  return L'"' + text + L'"';
}

// The private folder of one self-extracting job; removed with whatever is left in it, whichever
// way the job ends.
class PrivateFolder {
 public:
  explicit PrivateFolder(Platform& platform)
      : platform_(platform), path_(platform.createPrivateFolder()) {}
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  ~PrivateFolder() { platform_.removeFolder(path_); }
  const std::wstring& path() const { return path_; }

 private:
  Platform& platform_;
  std::wstring path_;
};

void waitForCabinetLibrary(Platform& platform, ArchiverBinding& binding) {
  const CabGetRunningFunction cabGetRunning = binding.cabGetRunning();
  while (cabGetRunning() != 0) platform.pumpMessages();
}

JobOutcome outcomeOf(std::int32_t result) {
  return result == 0 ? JobOutcome::kCompleted : JobOutcome::kMessageShown;
}

JobOutcome packSelfExtracting(Platform& platform, ArchiverBinding& binding, JobContext& context) {
  const wchar_t separator = platform.pathSyntax().separator;
  // Not the program's own folder: users can't write there, and two runs packing folders of the
  // same name would share one cabinet.
  const PrivateFolder folder(platform);
  const std::wstring cabinet = folder.path() + separator + context.baseName + L".cab";

  std::wstring pack = L"-a -r -ml:21 " + quoted(cabinet) + L" *.*";
  const std::int32_t packed = CallArchiver(platform, binding, Archiver::kCab, pack,
                                           context.outputBuffer, OmissionsReport::kLeaveToCaller);
  if (packed != 0 && packed != kArchivedWithOmissions) return JobOutcome::kMessageShown;
  // The conversion writes its own text into the buffer; what the cabinet left out is told once
  // the program is on the desktop.
  const std::wstring omissions = packed == 0 ? std::wstring() : context.outputBuffer;
  waitForCabinetLibrary(platform, binding);

  std::wstring convert = L"-f " + quoted(cabinet) + L" " + quoted(context.desktopPath + separator);
  const std::int32_t result =
      CallArchiver(platform, binding, Archiver::kCab, convert, context.outputBuffer);
  waitForCabinetLibrary(platform, binding);
  platform.deleteFile(cabinet);
  if (result == 0 && packed != 0) ShowArchiverMessage(platform, packed, omissions);
  return outcomeOf(result == 0 ? packed : result);
}

}  // namespace

JobOutcome CompressFolder(Platform& platform, ArchiverBinding& binding, JobContext& context) {
  platform.changeDirectory(context.sourcePath);
  const wchar_t separator = platform.pathSyntax().separator;
  const std::wstring onDesktop = context.desktopPath + separator + context.baseName;

  if (context.formatCode == kCabinetCode) {
    std::wstring command = L"-a -r -ml:21 " + quoted(onDesktop + L".cab") + L" *.*";
    return outcomeOf(
        CallArchiver(platform, binding, Archiver::kCab, command, context.outputBuffer));
  }
  if (context.formatCode == kSelfExtractingCode)
    return packSelfExtracting(platform, binding, context);
  if (context.formatCode == kLhaCode) {
    std::wstring command = L"a -rx " + quoted(onDesktop + L".lzh") + L" *.*";
    return outcomeOf(
        CallArchiver(platform, binding, Archiver::kUnlha, command, context.outputBuffer));
  }
  platform.showMessage(kUnusablePreference, kApplicationTitle);
  return JobOutcome::kMessageShown;
}

}  // namespace parvo
