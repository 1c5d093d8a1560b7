#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/archive_error.h"
#include "common/password_prompt.h"

namespace archivers {

// What a long call shows of itself, as the presenter gets it.
struct ProgressSnapshot {
  std::string_view archive;  // the archive being read or made
  std::string_view member;   // the member at hand, empty between members
  std::uint64_t done = 0;    // bytes, never past total
  std::uint64_t total = 0;   // 0 while unknown
};

// How a call's progress reaches the user: a window, a line on a terminal. Only the calling thread
// ever touches a presenter.
class ProgressPresenter {
 public:
  virtual ~ProgressPresenter() = default;
  // How long a call runs before it is shown at all, so that quick calls show nothing.
  virtual std::chrono::milliseconds delay() const = 0;
  // How often update() is called once the delay has passed: often enough to keep a window's
  // events serviced, seldom enough to cost nothing measurable.
  virtual std::chrono::milliseconds interval() const { return std::chrono::milliseconds(40); }
  // True when the user asked to stop.
  virtual bool update(const ProgressSnapshot& snapshot) = 0;
};

// The error a call ends with when the user stops it.
inline ArchiveError cancelledByUser() {
  return ArchiveError(Result::kCancelled, "cancelled by the user");
}

// Failures that end a whole extraction rather than one member: the user's stop, a destination
// that cannot be written, and an archive that can no longer be read.
inline bool endsExtraction(const ArchiveError& error) {
  return error.result() == Result::kCancelled || error.result() == Result::kWriteFailed ||
         error.result() == Result::kCannotOpen;
}

// One library call, from its start to its end: what it shows of itself and how it is stopped. The
// call makes it and hands it to whatever reads or writes for it (the archive input, the
// extraction sink, the writers), which report to it; a reader or writer run on its own (a test, a
// fuzz target) makes its own, with a null presenter. Its members may be used from any thread;
// only the thread that made it ever touches its presenter.
//
// While any call lives, SIGTERM, SIGINT and SIGHUP (Ctrl-C, logout, shutdown) stop every call in
// flight as the user's stop does, with or without a presenter: the handlers only note the signal,
// and each call's next checkpoint throws, so it unwinds through its clean-up. That note is all
// the calls of a process share. A signal the process ignores (nohup) stays ignored. The first call
// in flight installs the handlers; the last one to end restores the handlers found, exactly, and
// then raises the signal that came again, so with the default handling the process ends by it
// once the clean-up is done; a handler of the caller's own gets it and the call returns
// kCancelled.
class FollowedCall {
 public:
  // A null presenter shows nothing; the call is still followed. Without a prompt no password is
  // ever asked.
  explicit FollowedCall(std::unique_ptr<ProgressPresenter> presenter,
                        std::unique_ptr<PasswordPrompt> prompt = nullptr);
  FollowedCall(const FollowedCall&) = delete;
  FollowedCall& operator=(const FollowedCall&) = delete;
  ~FollowedCall();

  // The archive the call reads or makes, and its size in bytes when known (0 when not yet); the
  // count of bytes done starts again.
  void setArchive(std::string_view path, std::uint64_t totalBytes = 0);
  void setTotal(std::uint64_t totalBytes);
  void setMember(std::string_view name);

  // Counts bytes read or made, then checks as checkpoint() does.
  void advance(std::uint64_t bytes);
  // Between pieces of work of at most some tens of milliseconds: throws cancelledByUser() once the
  // user asked to stop or a termination signal came. On the thread that made the call it first
  // shows and services the presenter when due; other threads never touch it.
  void checkpoint();
  // The user asked to stop, or a termination signal came.
  bool stopRequested() const noexcept;

  // The passwords the user gave during the call, in order. They are the call's alone, held in
  // buffers cleared when the call ends, and never leave it but to the decoder that tries them.
  // Only the calling thread asks and reads them.
  static constexpr std::size_t kPasswordTries = 3;
  std::size_t passwordCount() const { return passwords_.size(); }
  const Secret& password(std::size_t index) const { return *passwords_[index]; }
  // Asks the user for one more password (at most kPasswordTries in a call): true when one was
  // given. False when the tries are used up or there is no way to ask. Throws cancelledByUser()
  // when the user cancels, which stops the call as the progress window's キャンセル does.
  bool askPassword();
  // Whether a password can be asked at all: there is a prompt and it has not found it cannot ask.
  bool canAskPassword() const { return prompt_ != nullptr; }

 private:
  // Holds the termination signals while the call is in flight. First, so that it ends last: a
  // signal that came is raised once the presenter has closed its window.
  class InFlight {
   public:
    InFlight();
    InFlight(const InFlight&) = delete;
    InFlight& operator=(const InFlight&) = delete;
    ~InFlight();
  };

  void update();

  InFlight inFlight_;
  std::vector<std::unique_ptr<Secret>> passwords_;
  // Before the presenter, so that it ends after it: a window of the prompt's toolkit that the
  // progress window shares is closed before the prompt ends the toolkit.
  std::unique_ptr<PasswordPrompt> prompt_;
  std::unique_ptr<ProgressPresenter> presenter_;
  const std::thread::id callingThread_;
  std::chrono::steady_clock::time_point started_;     // or the last answer to a prompt
  std::chrono::steady_clock::time_point nextUpdate_;  // the calling thread's alone
  std::atomic<std::uint64_t> done_{0};
  std::atomic<std::uint64_t> total_{0};
  std::atomic<bool> stop_{false};
  std::mutex namesMutex_;  // the member can be named by a worker thread
  std::string archive_;
  std::string member_;
};

}  // namespace archivers
