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

// The termination signal that came while calls were in flight, 0 for none: the one thing every
// call of the process shares. Written by the handler, so a lock-free atomic and nothing else.
std::atomic<int> receivedSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void noteTerminationSignal(int signal) {
  int none = 0;
  receivedSignal.compare_exchange_strong(none, signal);
}

// The handlers of the termination signals while calls are in flight. On its end the handlers it
// found are back.
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
  }

 private:
  std::array<struct sigaction, kTerminationSignals.size()> found_{};
  std::array<bool, kTerminationSignals.size()> installed_{};
};

// The calls in flight, on any thread, and the handlers they hold together.
std::mutex inFlightMutex;
std::size_t callsInFlight = 0;
std::optional<TerminationSignals> signalsHeld;

bool signalled() noexcept {
  return receivedSignal.load(std::memory_order_acquire) != 0;
}

}  // namespace

FollowedCall::InFlight::InFlight() {
  const std::lock_guard lock(inFlightMutex);
  if (callsInFlight++ == 0) signalsHeld.emplace();
}

FollowedCall::InFlight::~InFlight() {
  int signal = 0;
  {
    const std::lock_guard lock(inFlightMutex);
    if (--callsInFlight == 0) {
      signalsHeld.reset();
      signal = receivedSignal.exchange(0);
    }
  }
  // Outside the lock: a handler of the caller's own may start another call.
  if (signal != 0) ::raise(signal);
}

FollowedCall::FollowedCall(std::unique_ptr<ProgressPresenter> presenter,
                           std::unique_ptr<PasswordPrompt> prompt)
    : prompt_(std::move(prompt)),
      presenter_(std::move(presenter)),
      callingThread_(std::this_thread::get_id()),
      started_(Clock::now()),
      nextUpdate_(started_) {}

FollowedCall::~FollowedCall() = default;

void FollowedCall::update() {
  if (presenter_ == nullptr) return;
  const Clock::time_point now = Clock::now();
  if (now < nextUpdate_) return;
  nextUpdate_ = now + presenter_->interval();
  if (now - started_ < presenter_->delay()) return;
  std::string archive;
  std::string member;
  {
    const std::lock_guard lock(namesMutex_);
    archive = archive_;
    member = member_;
  }
  const std::uint64_t total = total_.load(std::memory_order_relaxed);
  const std::uint64_t done = done_.load(std::memory_order_relaxed);
  if (presenter_->update({archive, member, total == 0 ? done : std::min(done, total), total})) {
    stop_.store(true, std::memory_order_release);
  }
}

void FollowedCall::setArchive(std::string_view path, std::uint64_t totalBytes) {
  {
    const std::lock_guard lock(namesMutex_);
    archive_ = path;
  }
  total_.store(totalBytes, std::memory_order_relaxed);
  done_.store(0, std::memory_order_relaxed);
}

void FollowedCall::setTotal(std::uint64_t totalBytes) {
  total_.store(totalBytes, std::memory_order_relaxed);
}

void FollowedCall::setMember(std::string_view name) {
  const std::lock_guard lock(namesMutex_);
  member_ = name;
}

void FollowedCall::advance(std::uint64_t bytes) {
  done_.fetch_add(bytes, std::memory_order_relaxed);
  checkpoint();
}

void FollowedCall::checkpoint() {
  if (std::this_thread::get_id() == callingThread_ && !stopRequested()) update();
  if (stopRequested()) throw cancelledByUser();
}

bool FollowedCall::askPassword() {
  if (prompt_ == nullptr || passwords_.size() >= kPasswordTries) return false;
  std::string name;
  {
    const std::lock_guard lock(namesMutex_);
    name = archive_.substr(archive_.find_last_of('/') + 1);
  }
  auto password = std::make_unique<Secret>();
  const PasswordPrompt::Answer answer =
      prompt_->ask(name, !passwords_.empty(), *password, [this] { return stopRequested(); });
  if (answer == PasswordPrompt::Answer::kCannotAsk) {
    prompt_.reset();
    return false;
  }
  if (answer == PasswordPrompt::Answer::kCancelled) {
    stop_.store(true, std::memory_order_release);
    throw cancelledByUser();
  }
  passwords_.push_back(std::move(password));
  // The time the user took is not the work's: a progress window waits its delay from now.
  if (std::this_thread::get_id() == callingThread_) started_ = Clock::now();
  return true;
}

bool FollowedCall::stopRequested() const noexcept {
  return stop_.load(std::memory_order_acquire) || signalled();
}

}  // namespace archivers
