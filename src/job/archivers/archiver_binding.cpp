#include "job/archivers/archiver_binding.h"

#include <optional>
#include <vector>

#include "runtime/application.h"
#include "runtime/fixed_text.h"
#include "runtime/run_time_error.h"

namespace parvo {
namespace {

struct Declaration {
  const wchar_t* library;
  const char* entryPoint;
};

Declaration declarationOf(Archiver archiver) {
  switch (archiver) {
    case Archiver::kCab:
      return {L"cab32.dll", "Cab"};
    case Archiver::kUnlha:
      return {L"UNLHA32.DLL", "Unlha"};
    case Archiver::kUnZip:
      return {L"UNZIP32.DLL", "UnZip"};
    case Archiver::kTar:
      return {L"TAR32.DLL", "Tar"};
    case Archiver::kUnArj:
      return {L"UNARJ32.DLL", "UnArj"};
  }
  raiseError(kInvalidProcedureCall);
}

std::vector<char> writableText(const std::string& text, std::size_t minimumSize) {
  std::vector<char> buffer(text.begin(), text.end());
  buffer.resize(std::max(buffer.size(), minimumSize) + 1, '\0');
  return buffer;
}

constexpr wchar_t kUnconvertibleName[] =
    L"This name cannot be passed to the archiver in the system's code page: ";
constexpr std::int32_t kNotCalled = -1;

// The first quoted operand that the archivers' code page cannot take, or the whole line.
std::wstring unconvertibleOperand(const Platform& platform, const std::wstring& commandLine) {
  for (std::size_t open = commandLine.find(L'"'); open != std::wstring::npos;) {
    const std::size_t close = commandLine.find(L'"', open + 1);
    if (close == std::wstring::npos) break;
    std::wstring operand = commandLine.substr(open + 1, close - open - 1);
    if (!platform.toArchiverText(operand)) return operand;
    open = commandLine.find(L'"', close + 1);
  }
  return commandLine;
}

std::wstring trimmedRight(std::wstring text) {
  const std::size_t end = text.find_last_not_of(L" \t\r\n");
  text.resize(end == std::wstring::npos ? 0 : end + 1);
  return text;
}

}  // namespace

void* ArchiverBinding::resolve(const std::wstring& library, const std::string& entryPoint) {
  if (const auto found = entryPoints_.find(entryPoint); found != entryPoints_.end()) {
    return found->second;
  }
  const std::wstring fileName = platform_.libraryFileName(library);
  auto& loaded = libraries_[fileName];
  if (!loaded) loaded = platform_.loadLibrary(fileName);
  if (!loaded) {
    libraries_.erase(fileName);
    raiseError(kErrorInLoadingDll);
  }
  void* address = loaded->entryPoint(entryPoint);
  if (address == nullptr) {
    raiseEntryPointNotFound(std::wstring(entryPoint.begin(), entryPoint.end()), fileName);
  }
  entryPoints_[entryPoint] = address;
  return address;
}

ArchiverFunction ArchiverBinding::entryPoint(Archiver archiver) {
  const Declaration declaration = declarationOf(archiver);
  return reinterpret_cast<ArchiverFunction>(resolve(declaration.library, declaration.entryPoint));
}

CabGetRunningFunction ArchiverBinding::cabGetRunning() {
  return reinterpret_cast<CabGetRunningFunction>(resolve(L"cab32.dll", "CabGetRunning"));
}

void ShowArchiverMessage(Platform& platform, std::int32_t result,
                         const std::wstring& outputBuffer) {
  std::wstring explanation = trimmedRight(textBeforeNul(outputBuffer));
  if (explanation.empty()) {
    explanation = L"The archiver reported error " + std::to_wstring(result) + L".";
  }
  platform.showMessage(explanation, kApplicationTitle);
}

std::int32_t CallArchiver(Platform& platform, ArchiverBinding& binding, Archiver archiver,
                          std::wstring& commandLine, std::wstring& outputBuffer,
                          OmissionsReport omissions) {
  const ArchiverFunction function = binding.entryPoint(archiver);
  const std::optional<std::string> commandText = platform.toArchiverText(commandLine);
  if (!commandText) {
    platform.showMessage(kUnconvertibleName + unconvertibleOperand(platform, commandLine),
                         kApplicationTitle);
    return kNotCalled;
  }
  const std::size_t size = outputBuffer.size();
  // The archivers only write the buffer: what it held before need not survive the code page.
  std::vector<char> output =
      writableText(platform.toArchiverText(outputBuffer).value_or(std::string()), size);
  std::vector<char> command = writableText(*commandText, 0);

  const std::int32_t result =
      function(0, command.data(), output.data(), static_cast<std::int32_t>(size));

  output[size] = '\0';  // the spare byte: the text ends even when the library filled all
  commandLine = platform.fromArchiverText(command.data());
  outputBuffer = fitText(platform.fromArchiverText(std::string(output.data(), size)), size);

  const bool leftToCaller =
      result == kArchivedWithOmissions && omissions == OmissionsReport::kLeaveToCaller;
  if (result != 0 && result != kCancelledByUser && !leftToCaller) {
    ShowArchiverMessage(platform, result, outputBuffer);
  }
  return result;
}

}  // namespace parvo
