#include "common/progress.h"

#include <signal.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

namespace archivers {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::array kTerminationSignals{SIGTERM, SIGINT, SIGHUP};

// The termination signal that came while a call was followed, 0 for none. Written by the
// handler, so a lock-free atomic and nothing else.
std::atomic<int> receivedSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void noteTerminationSignal(int signal) {
  int none = 0;
  receivedSignal.compare_exchange_strong(none, signal);
}

// The handlers of the termination signals for one followed call. On its end the handlers it found
// are back, and then the signal that came is raised again.
class TerminationSignals {
 public:
  TerminationSignals() {
    receivedSignal.store(0);
    struct sigaction action {};
    action.sa_handler = noteTerminationSignal;
    sigemptyset(&action.sa_mask);
    // Reads and waits that a signal interrupts resume; the next checkpoint stops the call.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kTerminationSignals.size(); ++i) {
      if (::sigaction(kTerminationSignals[i], nullptr, &found_[i]) != 0) continue;
      const bool ignored =
          (found_[i].sa_flags & SA_SIGINFO) == 0 && found_[i].sa_handler == SIG_IGN;
      installed_[i] = !ignored && ::sigaction(kTerminationSignals[i], &action, nullptr) == 0;
    }
  }
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;
  ~TerminationSignals() {
    for (std::size_t i = 0; i < kTerminationSignals.size(); ++i) {
      if (installed_[i]) ::sigaction(kTerminationSignals[i], &found_[i], nullptr);
    }
    if (const int signal = receivedSignal.exchange(0)) ::raise(signal);
  }

 private:
  std::array<struct sigaction, kTerminationSignals.size()> found_{};
  std::array<bool, kTerminationSignals.size()> installed_{};
};

struct CallState {
  // First, so that it ends last: the signal is raised once the presenter has closed its window.
  std::optional<TerminationSignals> signals;
  std::unique_ptr<ProgressPresenter> presenter;
  std::thread::id callingThread = std::this_thread::get_id();
  Clock::time_point started = Clock::now();
  Clock::time_point nextUpdate = started;
  std::atomic<std::uint64_t> done{0};
  std::atomic<std::uint64_t> total{0};
  std::atomic<bool> stop{false};
  std::mutex namesMutex;  // the member can be named by a worker thread
  std::string archive;
  std::string member;
};

std::atomic<CallState*> currentCall{nullptr};

CallState* callingThreadState() {
  CallState* state = currentCall.load(std::memory_order_acquire);
  if (state == nullptr || state->callingThread != std::this_thread::get_id()) return nullptr;
  return state;
}

bool stopped(const CallState& state) {
  return state.stop.load(std::memory_order_acquire) ||
         receivedSignal.load(std::memory_order_acquire) != 0;
}

void update(CallState& state) {
  if (state.presenter == nullptr) return;
  const Clock::time_point now = Clock::now();
  if (now < state.nextUpdate) return;
  state.nextUpdate = now + state.presenter->interval();
  if (now - state.started < state.presenter->delay()) return;
  std::string archive;
  std::string member;
  {
    const std::lock_guard lock(state.namesMutex);
    archive = state.archive;
    member = state.member;
  }
  const std::uint64_t total = state.total.load(std::memory_order_relaxed);
  const std::uint64_t done = state.done.load(std::memory_order_relaxed);
  if (state.presenter->update(
          {archive, member, total == 0 ? done : std::min(done, total), total})) {
    state.stop.store(true, std::memory_order_release);
  }
}

}  // namespace

FollowedCall::FollowedCall(std::unique_ptr<ProgressPresenter> presenter) {
  auto state = std::make_unique<CallState>();
  state->presenter = std::move(presenter);
  CallState* expected = nullptr;
  // A call made while another is followed, inside it or on another thread, goes unfollowed.
  if (currentCall.compare_exchange_strong(expected, state.get())) {
    state.release()->signals.emplace();
    following_ = true;
  }
}

FollowedCall::~FollowedCall() {
  if (!following_) return;
  delete currentCall.exchange(nullptr, std::memory_order_acq_rel);
}

namespace progress {

void setArchive(std::string_view path, std::uint64_t totalBytes) {
  CallState* state = callingThreadState();
  if (state == nullptr) return;
  {
    const std::lock_guard lock(state->namesMutex);
    state->archive = path;
  }
  state->total.store(totalBytes, std::memory_order_relaxed);
  state->done.store(0, std::memory_order_relaxed);
}

void setTotal(std::uint64_t totalBytes) {
  if (CallState* state = currentCall.load(std::memory_order_acquire)) {
    state->total.store(totalBytes, std::memory_order_relaxed);
  }
}

void setMember(std::string_view name) {
  if (CallState* state = currentCall.load(std::memory_order_acquire)) {
    const std::lock_guard lock(state->namesMutex);
    state->member = name;
  }
}

void advance(std::uint64_t bytes) {
  CallState* state = currentCall.load(std::memory_order_acquire);
  if (state == nullptr) return;
  state->done.fetch_add(bytes, std::memory_order_relaxed);
  checkpoint();
}

void checkpoint() {
  CallState* state = currentCall.load(std::memory_order_acquire);
  if (state == nullptr) return;
  const bool callingThread = state->callingThread == std::this_thread::get_id();
  if (callingThread && !stopped(*state)) update(*state);
  if (stopped(*state)) throw cancelledByUser();
}

bool stopRequested() noexcept {
  const CallState* state = currentCall.load(std::memory_order_acquire);
  return state != nullptr && stopped(*state);
}

}  // namespace progress
}  // namespace archivers
