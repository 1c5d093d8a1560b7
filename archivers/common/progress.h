#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/archive_error.h"
#include "common/progress.h"

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

// The progress of the one library call running on this thread, from its start to its end. The
// functions in namespace progress below do nothing when no call is being followed (a test that
// calls a reader directly, say).
//
// While it lives, SIGTERM, SIGINT and SIGHUP (Ctrl-C, logout, shutdown) stop the call as the
// user's stop does, with or without a presenter: the handlers only note the signal, and the next
// checkpoint throws, so the call unwinds through its clean-up. A signal the process ignores
// (nohup) stays ignored. The end restores the handlers found, exactly, and then raises the signal
// that came again, so with the default handling the process ends by it once the clean-up is done;
// a handler of the caller's own gets it and the call returns kCancelled.
class FollowedCall {
 public:
  // A null presenter shows nothing; the call is still followed.
  explicit FollowedCall(std::unique_ptr<ProgressPresenter> presenter);
  FollowedCall(const FollowedCall&) = delete;
  FollowedCall& operator=(const FollowedCall&) = delete;
  ~FollowedCall();

 private:
  // False for a call made while another is followed, inside it or on another thread: the outer
  // call alone holds the signals and raises one that came.
  bool following_ = false;
};

namespace progress {

// The archive the call reads or makes, and its size in bytes when known (0 when not yet).
void setArchive(std::string_view path, std::uint64_t totalBytes = 0);
void setTotal(std::uint64_t totalBytes);
void setMember(std::string_view name);

// Any thread: counts bytes read or made, then checks as checkpoint() does.
void advance(std::uint64_t bytes);
// Between pieces of work of at most some tens of milliseconds: throws cancelledByUser() once the
// user asked to stop. On the calling thread it first shows and services the presenter when due;
// worker threads never touch it.
void checkpoint();
// Any thread: the user asked to stop, or a termination signal came.
bool stopRequested() noexcept;

}  // namespace progress
}  // namespace archivers
