#include "job/extract_archive.h"

#include <array>
#include <string_view>

#include "runtime/application.h"
#include "runtime/fixed_text.h"

namespace parvo {
namespace {

struct ExtractionRule {
  std::array<std::wstring_view, 3> keys;  // compared exactly: no other mix of capitals
  Archiver archiver;
  std::wstring_view commandPrefix;
};

constexpr std::array<ExtractionRule, 5> kRules{{
    {{L".cab", L".CAB", L".Cab"}, Archiver::kCab, L"-x -o -r "},
    {{L".lzh", L".LZH", L".Lzh"}, Archiver::kUnlha, L"e -rxy "},
    {{L".zip", L".ZIP", L".Zip"}, Archiver::kUnZip, L"-xv "},
    {{L".tar", L".TAR", L".Tar"}, Archiver::kTar, L"-xvf "},
    {{L".arj", L".ARJ", L".Arj"}, Archiver::kUnArj, L"x -u "},
}};

constexpr wchar_t kUnsupportedExtension[] = L"この拡張子のファイルは解凍出来ません";

const ExtractionRule* ruleFor(const std::wstring& sourcePath) {
  const std::size_t length = sourcePath.size();
  const std::wstring key = fitText(length > 4 ? sourcePath.substr(length - 4) : sourcePath, 4);
  for (const ExtractionRule& rule : kRules) {
    for (const std::wstring_view candidate : rule.keys) {
      if (key == candidate) return &rule;
    }
  }
  return nullptr;
}

}  // namespace

JobOutcome ExtractArchive(Platform& platform, ArchiverBinding& binding, JobContext& context) {
  const ExtractionRule* rule = ruleFor(context.sourcePath);
  if (rule == nullptr) {
    platform.showMessage(kUnsupportedExtension, kApplicationTitle);
    return JobOutcome::kMessageShown;
  }
  const wchar_t separator = platform.pathSyntax().separator;
  std::wstring commandLine = std::wstring(rule->commandPrefix) + L'"' + context.sourcePath +
                             L"\" \"" + context.desktopPath + separator + context.baseName +
                             separator + L'"';
  const std::int32_t result =
      CallArchiver(platform, binding, rule->archiver, commandLine, context.outputBuffer);
  return result == 0 ? JobOutcome::kCompleted : JobOutcome::kMessageShown;
}

}  // namespace parvo
