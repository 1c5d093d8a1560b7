#include "runtime/run_time_error.h"

#include <utility>

namespace parvo {

RunTimeError::RunTimeError(int number, std::wstring description)
    : number_(number), description_(std::move(description)) {}

std::wstring standardDescription(int number) {
  switch (number) {
    case kInvalidProcedureCall:
      return L"Invalid procedure call or argument";
    case kOverflow:
      return L"Overflow";
    case kOutOfMemory:
      return L"Out of memory";
    case kErrorInLoadingDll:
      return L"Error in loading DLL";
    case kBadFileName:
      return L"Bad file name or number";
    case kFileNotFound:
      return L"File not found";
    case kPathFileAccessError:
      return L"Path/File access error";
    case kPathNotFound:
      return L"Path not found";
    default:
      return L"Application-defined or object-defined error";
  }
}

RunTimeError standardError(int number) {
  return {number, standardDescription(number)};
}

void raiseError(int number) {
  throw standardError(number);
}

void raiseEntryPointNotFound(const std::wstring& entryPoint, const std::wstring& library) {
  throw RunTimeError(kCantFindDllEntryPoint,
                     L"Can't find DLL entry point " + entryPoint + L" in " + library);
}

std::wstring runTimeErrorMessage(const RunTimeError& error) {
  return L"Run-time error '" + std::to_wstring(error.number()) + L"':\n\n" + error.description();
}

}  // namespace parvo
