#pragma once

#include <string.h>

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>

namespace archivers {

// A password as the user typed it, in a fixed buffer that is never copied or moved (a string's
// growth would leave copies behind) and is cleared when it goes.
class Secret {
 public:
  static constexpr std::size_t kCapacity = 256;  // with the terminating NUL
  Secret() = default;
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;
  ~Secret() { clear(); }

  // NUL-terminated, as libraries that take a C string want it.
  const char* c_str() const { return bytes_.data(); }
  std::string_view view() const { return {bytes_.data(), size_}; }
  // The buffer to fill, kCapacity bytes; then setSize to the bytes taken, NUL excluded.
  char* buffer() { return bytes_.data(); }
  void setSize(std::size_t size) {
    size_ = size < kCapacity ? size : kCapacity - 1;
    bytes_[size_] = '\0';
  }
  void clear() {
    ::explicit_bzero(bytes_.data(), bytes_.size());
    size_ = 0;
  }

 private:
  std::array<char, kCapacity> bytes_{};
  std::size_t size_ = 0;
};

// How a call asks the user for an archive's password.
class PasswordPrompt {
 public:
  enum class Answer { kGiven, kCancelled, kCannotAsk };
  virtual ~PasswordPrompt() = default;
  // Asks for the password of the archive named (its file name alone); again: the password given
  // before did not open a member. Fills password only with kGiven. A stop (a termination signal)
  // while it waits counts as cancelling.
  virtual Answer ask(std::string_view archiveName, bool again, Secret& password,
                     const std::function<bool()>& stopRequested) = 0;
};

// The window module's prompt, as it makes it:
// extern "C" int parvoAskPassword(const char* archiveName, int again, char* buffer, size_t size,
//                                 int (*stopRequested)(void*), void* context)
// returns 1 with the password in buffer (NUL-terminated, at most size - 1 bytes), 0 when the user
// cancelled (or stopRequested answered non-zero), -1 when there is no display to ask on.
inline constexpr char kPasswordWindowEntryPoint[] = "parvoAskPassword";
// extern "C" void parvoEndPasswordPrompts(): the call's prompts are done.
inline constexpr char kPasswordWindowsEndEntryPoint[] = "parvoEndPasswordPrompts";

// Asks in a window of the window module when there is a display, else on the controlling
// terminal without echo, else not at all (kCannotAsk). Nothing is loaded until it asks.
std::unique_ptr<PasswordPrompt> userPasswordPrompt();

// Asks on the controlling terminal (/dev/tty) without echo; kCannotAsk without one.
PasswordPrompt::Answer askOnTerminal(std::string_view archiveName, bool again, Secret& password,
                                     const std::function<bool()>& stopRequested);

}  // namespace archivers
