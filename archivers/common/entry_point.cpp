#include "common/entry_point.h"

#include <cstring>
#include <exception>

#include "common/archive_error.h"
#include "common/password_prompt.h"
#include "common/progress_window.h"
#include "common/utf8.h"

namespace archivers {

void writeOutput(char* output, int32_t size, std::string_view text) {
  if (output == nullptr || size <= 0) return;
  const std::size_t count = utf8PrefixLength(text, static_cast<std::size_t>(size) - 1);
  std::memcpy(output, text.data(), count);
  output[count] = '\0';
}

int32_t runEntryPoint(const char* commandLine, char* output, int32_t size,
                      const std::function<Outcome(std::string_view, FollowedCall&)>& operation) {
  try {
    FollowedCall call(windowPresenter(), userPasswordPrompt());
    if (commandLine == nullptr) {
      throw ArchiveError(Result::kBadCommandLine, "no command line given");
    }
    const Outcome outcome = operation(commandLine, call);
    writeOutput(output, size, outcome.text);
    return static_cast<int32_t>(outcome.result);
  } catch (const ArchiveError& error) {
    writeOutput(output, size, error.what());
    return static_cast<int32_t>(error.result());
  } catch (const std::bad_alloc&) {
    writeOutput(output, size, "out of memory");
  } catch (const std::exception& error) {
    writeOutput(output, size, std::string("internal error: ") + error.what());
  } catch (...) {
    writeOutput(output, size, "internal error");
  }
  return static_cast<int32_t>(Result::kInternal);
}

}  // namespace archivers
