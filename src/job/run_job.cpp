#include "job/run_job.h"

#include "job/compress_folder.h"
#include "job/expand_long_path.h"
#include "job/extract_archive.h"
#include "runtime/application.h"
#include "runtime/fixed_text.h"
#include "runtime/run_time_error.h"

namespace parvo {
namespace {

std::wstring sourcePathOf(Platform& platform, const std::wstring& argument) {
  if (argument.find(L'"') == std::wstring::npos) return ExpandLongPath(platform, argument);
  // A quoted argument loses its first and last characters, whatever they are, and is not
  // expanded.
  if (argument.size() < 2) raiseError(kInvalidProcedureCall);
  return argument.substr(1, argument.size() - 2);
}

// The text after the rightmost separator that has at least one character after it, so a
// trailing separator stays part of the leaf ("C:\data\" gives "data\").
std::wstring leafNameOf(Platform& platform, const std::wstring& sourcePath) {
  const wchar_t separator = platform.pathSyntax().separator;
  const std::size_t length = sourcePath.size();
  for (std::size_t k = 0; k < length; ++k) {
    const bool found = sourcePath[length - 1 - k] == separator && k > 0;
    platform.pumpMessages();
    if (found) return sourcePath.substr(length - k);
  }
  raiseError(kInvalidProcedureCall);
}

// The leaf up to its first dot. A leaf that starts with a dot would leave nothing, and the
// destination would be the desktop itself, so leading dots are skipped first (".backup.zip" gives
// "backup"). Empty only for a name of dots alone.
std::wstring baseNameOf(const std::wstring& leafName) {
  const std::size_t start = leafName.find_first_not_of(L'.');
  if (start == std::wstring::npos) return {};
  const std::size_t end = leafName.find(L'.', start);
  return leafName.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

constexpr wchar_t kUnusableName[] = L"この名前のファイルは処理出来ません";

}  // namespace

PreparedJob PrepareJob(Platform& platform, const std::wstring& argument) {
  PreparedJob job;
  JobContext& context = job.context;
  context.outputBuffer = emptyField(kOutputBufferLength);
  context.formatCode = ReadFormatPreference(platform);
  context.desktopPath = platform.desktopFolder().value_or(std::wstring());
  context.sourcePath = sourcePathOf(platform, argument);

  const std::wstring leafName = leafNameOf(platform, context.sourcePath);
  context.baseName = baseNameOf(leafName);

  job.isFolder = (platform.fileAttributes(context.sourcePath) & kDirectoryAttribute) != 0;
  return job;
}

JobOutcome RunJob(Platform& platform, ArchiverBinding& binding, const std::wstring& argument) {
  PreparedJob job = PrepareJob(platform, argument);
  if (job.context.baseName.empty()) {
    platform.showMessage(kUnusableName, kApplicationTitle);
    return JobOutcome::kMessageShown;
  }
  if (job.isFolder) return CompressFolder(platform, binding, job.context);
  return ExtractArchive(platform, binding, job.context);
}

}  // namespace parvo
