#include "common/progress.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

namespace archivers {
namespace {

using Clock = std::chrono::steady_clock;

struct CallState {
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

void update(CallState& state) {
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
  if (presenter == nullptr) return;
  auto state = std::make_unique<CallState>();
  state->presenter = std::move(presenter);
  CallState* expected = nullptr;
  // A call made while another is followed, inside it or on another thread, goes unfollowed.
  if (currentCall.compare_exchange_strong(expected, state.get())) {
    state.release();
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
  if (callingThread && !state->stop.load(std::memory_order_acquire)) update(*state);
  if (state->stop.load(std::memory_order_acquire)) throw cancelledByUser();
}

bool stopRequested() noexcept {
  const CallState* state = currentCall.load(std::memory_order_acquire);
  return state != nullptr && state->stop.load(std::memory_order_acquire);
}

}  // namespace progress
}  // namespace archivers
