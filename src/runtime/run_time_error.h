#pragma once

#include <exception>
#include <string>

namespace parvo {

// Error numbers the program raises, with the run time's standard meaning.
enum ErrorNumber : int {
  kInvalidProcedureCall = 5,
  kOverflow = 6,
  kOutOfMemory = 7,
  kErrorInLoadingDll = 48,
  kFileNotFound = 53,
  kPathFileAccessError = 75,
  kPathNotFound = 76,
  kBadFileName = 52,
  kCantFindDllEntryPoint = 453,
};

// An error that no routine handles: it travels to the top of the program, which shows it and
// ends the run.
class RunTimeError : public std::exception {
 public:
  RunTimeError(int number, std::wstring description);
  int number() const { return number_; }
  const std::wstring& description() const { return description_; }
  const char* what() const noexcept override { return "run-time error"; }

 private:
  int number_;
  std::wstring description_;
};

// The standard description of a number, e.g. 53 "File not found".
std::wstring standardDescription(int number);

// The error with its number's standard description.
RunTimeError standardError(int number);
[[noreturn]] void raiseError(int number);
[[noreturn]] void raiseEntryPointNotFound(const std::wstring& entryPoint,
                                          const std::wstring& library);

// The text of the run-time error message box: "Run-time error '53':", an empty line, then
// the description.
std::wstring runTimeErrorMessage(const RunTimeError& error);

}  // namespace parvo
