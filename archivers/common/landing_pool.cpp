#include "common/landing_pool.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>

#include "common/progress.h"

namespace archivers {
namespace {

// What making and landing one file costs a thread, counted as bytes of its data.
constexpr std::size_t kLoadPerWork = 16 * 1024;

}  // namespace

std::size_t landingThreads() {
  if (const char* forced = std::getenv("PARVO_LANDING_THREADS"); forced != nullptr) {
    char* end = nullptr;
    const unsigned long count = std::strtoul(forced, &end, 10);
    if (end != forced && *end == '\0') return std::min<std::size_t>(count, 8);
  }
  const unsigned cores = std::thread::hardware_concurrency();
  return cores <= 1 ? 0 : std::min<std::size_t>(cores, 8);
}

LandingPool::LandingPool(std::size_t threads, FollowedCall& call)
    : call_(call), threads_(threads), workCame_(threads), queues_(threads), load_(threads) {}

void LandingPool::stop() noexcept {
  std::unique_lock lock(mutex_);
  workDone_.wait(lock, [&] { return workInFlight_ == 0; });
  ending_ = true;
  lock.unlock();
  for (std::condition_variable& came : workCame_) came.notify_one();
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
}

void LandingPool::start() {
  workers_.reserve(threads_);
  for (std::size_t i = 0; i < threads_; ++i) workers_.emplace_back([this, i] { serve(i); });
}

void LandingPool::serve(std::size_t index) {
  std::unique_lock lock(mutex_);
  std::deque<Work>& queue = queues_[index];
  for (;;) {
    workCame_[index].wait(lock, [&] { return ending_ || !queue.empty(); });
    if (queue.empty()) return;
    Work work = std::move(queue.front());
    queue.pop_front();
    const bool dropped = failure_ != nullptr && work.order > failedOrder_;
    lock.unlock();
    std::exception_ptr failure;
    if (!dropped) {
      try {
        work.run();
      } catch (...) {
        failure = std::current_exception();
      }
    }
    work.run = nullptr;  // what it held (a pending file) goes before the work counts as done
    lock.lock();
    if (failure != nullptr && !failed_ && (failure_ == nullptr || work.order < failedOrder_)) {
      failure_ = failure;
      failedOrder_ = work.order;
    }
    if (const auto found = keysInHand_.find(work.key); --found->second.works == 0) {
      keysInHand_.erase(found);
    }
    load_[index] -= work.bytes + kLoadPerWork;
    bytesInFlight_ -= work.bytes;
    --workInFlight_;
    if (handerMayGoOn()) workDone_.notify_one();
  }
}

bool LandingPool::roomFor(std::size_t bytes, std::size_t works) const {
  return workInFlight_ == 0 ||
         (workInFlight_ + works <= kWorkInFlight && bytesInFlight_ + bytes <= kBytesInFlight);
}

bool LandingPool::handerMayGoOn() const {
  // Once it waits, the reading thread waits until half the work in flight is done, so that it then
  // hands a batch; woken at every piece, the two would take turns at every file.
  return failure_ != nullptr || workInFlight_ == 0 ||
         (handerWaitsFor_ && roomFor(*handerWaitsFor_, kWorkInFlight / 2));
}

void LandingPool::rethrowFailure(std::unique_lock<std::mutex>& lock) {
  if (failure_ == nullptr || failed_) return;
  failed_ = true;
  const std::exception_ptr failure = failure_;
  lock.unlock();
  std::rethrow_exception(failure);
}

void LandingPool::waitUntil(std::unique_lock<std::mutex>& lock, const std::function<bool()>& done) {
  // The reading thread keeps the call serviced (its window, the user's stop) while it waits.
  while (!workDone_.wait_for(lock, std::chrono::milliseconds(40),
                             [&] { return done() || failure_ != nullptr; })) {
    lock.unlock();
    call_.checkpoint();
    lock.lock();
  }
}

void LandingPool::hand(std::string_view key, std::size_t bytes, std::function<void()> work) {
  if (threads_ == 0) {
    work();
    return;
  }
  std::unique_lock lock(mutex_);
  rethrowFailure(lock);
  if (workers_.empty()) start();
  if (!roomFor(bytes, 1)) {
    handerWaitsFor_ = bytes;
    waitUntil(lock, [&] { return handerMayGoOn(); });
    handerWaitsFor_.reset();
  }
  rethrowFailure(lock);
  std::string owned(key);
  const std::size_t index = threadFor(owned);
  queues_[index].push_back({std::move(work), bytes, std::move(owned), handed_++});
  load_[index] += bytes + kLoadPerWork;
  bytesInFlight_ += bytes;
  ++workInFlight_;
  lock.unlock();
  workCame_[index].notify_one();
}

std::size_t LandingPool::threadFor(const std::string& key) {
  const auto [found, fresh] = keysInHand_.try_emplace(key, KeyInHand{0, 0});
  if (fresh) {
    found->second.thread =
        static_cast<std::size_t>(std::min_element(load_.begin(), load_.end()) - load_.begin());
  }
  ++found->second.works;
  return found->second.thread;
}

void LandingPool::drain() {
  if (threads_ == 0) return;
  std::unique_lock lock(mutex_);
  waitUntil(lock, [&] { return workInFlight_ == 0; });
  // A failure ends the extraction: what was handed after it is dropped, not waited for; what was
  // handed before it still lands.
  workDone_.wait(lock, [&] { return workInFlight_ == 0; });
  rethrowFailure(lock);
}

}  // namespace archivers
