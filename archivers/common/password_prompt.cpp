#include "common/password_prompt.h"

#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "common/progress_window.h"

namespace archivers {

namespace {

// The terminal as it was, put back however the prompt ends.
class EchoOff {
 public:
  explicit EchoOff(int fd) : fd_(fd) {
    if (::tcgetattr(fd_, &saved_) != 0) return;
    // Byte by byte, without signals: Ctrl-C at the prompt is the prompt's Cancel, which stops
    // the call as the progress window's キャンセル does, rather than a signal that ends the run.
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG);
    quiet.c_cc[VMIN] = 1;
    quiet.c_cc[VTIME] = 0;
    active_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;
  ~EchoOff() {
    if (active_) ::tcsetattr(fd_, TCSAFLUSH, &saved_);
  }
  bool active() const { return active_; }

 private:
  int fd_;
  termios saved_{};
  bool active_ = false;
};

void writeAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

// Reads one line into password, a byte at a time so that nothing past the line is taken from the
// terminal. Waits in poll, which a signal always interrupts, so that a stop is heard.
PasswordPrompt::Answer readLine(int fd, Secret& password,
                                const std::function<bool()>& stopRequested) {
  std::size_t size = 0;
  for (;;) {
    if (stopRequested()) return PasswordPrompt::Answer::kCancelled;
    pollfd ready{fd, POLLIN, 0};
    const int polled = ::poll(&ready, 1, 100);
    if (polled < 0 && errno != EINTR) return PasswordPrompt::Answer::kCancelled;
    if (polled <= 0) continue;
    char byte = 0;
    const ssize_t got = ::read(fd, &byte, 1);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    // Ctrl-C, and Ctrl-D on an empty entry, decline as the window's キャンセル does.
    if (got <= 0 || byte == '\x03' || (byte == '\x04' && size == 0)) {
      password.clear();
      return PasswordPrompt::Answer::kCancelled;
    }
    if (byte == '\n' || byte == '\r') break;
    if (byte == '\x7f' || byte == '\b') {
      if (size > 0) password.buffer()[--size] = '\0';
    } else if (byte == '\x15') {  // Ctrl-U: the entry again from the start
      password.clear();
      size = 0;
    } else if (size + 1 < Secret::kCapacity) {
      password.buffer()[size++] = byte;
    }
    byte = 0;
  }
  password.setSize(size);
  return PasswordPrompt::Answer::kGiven;
}

class UserPasswordPrompt final : public PasswordPrompt {
 public:
  UserPasswordPrompt() = default;
  UserPasswordPrompt(const UserPasswordPrompt&) = delete;
  UserPasswordPrompt& operator=(const UserPasswordPrompt&) = delete;
  ~UserPasswordPrompt() override {
    using End = void (*)();
    if (!askedInWindow_) return;
    if (auto end = reinterpret_cast<End>(dlsymOf(windowModule(), kPasswordWindowsEndEntryPoint))) {
      end();
    }
  }

  Answer ask(std::string_view archiveName, bool again, Secret& password,
             const std::function<bool()>& stopRequested) override {
    if (void* module = hasDisplay() ? windowModule() : nullptr) {
      using Ask = int (*)(const char*, int, char*, std::size_t, int (*)(void*), void*);
      if (auto askInWindow = reinterpret_cast<Ask>(dlsymOf(module, kPasswordWindowEntryPoint))) {
        askedInWindow_ = true;
        const std::string name(archiveName);
        auto stopped = [](void* context) -> int {
          return (*static_cast<const std::function<bool()>*>(context))() ? 1 : 0;
        };
        const int answer =
            askInWindow(name.c_str(), again ? 1 : 0, password.buffer(), Secret::kCapacity, stopped,
                        const_cast<std::function<bool()>*>(&stopRequested));
        if (answer == 1) {
          password.setSize(::strnlen(password.c_str(), Secret::kCapacity - 1));
          return Answer::kGiven;
        }
        if (answer == 0) return Answer::kCancelled;
      }
    }
    return askOnTerminal(archiveName, again, password, stopRequested);
  }

 private:
  bool askedInWindow_ = false;
};

}  // namespace

PasswordPrompt::Answer askOnTerminal(std::string_view archiveName, bool again, Secret& password,
                                     const std::function<bool()>& stopRequested) {
  const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return PasswordPrompt::Answer::kCannotAsk;
  PasswordPrompt::Answer answer = PasswordPrompt::Answer::kCannotAsk;
  {
    const EchoOff echoOff(fd);
    if (echoOff.active()) {
      writeAll(
          fd, again ? std::string("Wrong password. Password for ") + std::string(archiveName) + ": "
                    : std::string("Password for ") + std::string(archiveName) + ": ");
      answer = readLine(fd, password, stopRequested);
    }
  }
  if (answer != PasswordPrompt::Answer::kCannotAsk) writeAll(fd, "\n");
  ::close(fd);
  return answer;
}

std::unique_ptr<PasswordPrompt> userPasswordPrompt() {
  return std::make_unique<UserPasswordPrompt>();
}

}  // namespace archivers
