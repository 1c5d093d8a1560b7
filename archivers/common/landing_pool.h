#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace archivers {

class FollowedCall;

// The landing threads an extraction uses: one per core, at most 8, or PARVO_LANDING_THREADS when
// set (tests force the count with it). 0 on a one-core machine: the reading thread lands itself.
std::size_t landingThreads();

// The threads that land an extraction's complete files, and decode the members handed over whole,
// while its reading thread reads the next ones. Work handed with the same key (a member's last
// name) runs in the order it was handed, on one thread, so a name that comes twice is landed in
// archive order and the Trash numbers its copies alike at any thread count; other work goes to the
// thread with the least in hand. Only the thread that made the pool hands it work or waits for
// it; that thread alone services the call between waits.
class LandingPool {
 public:
  // The most bytes that work handed over may hold in memory (or, decoding a member, write), and
  // the most pieces of work waiting (each may hold a file or folder descriptor).
  static constexpr std::size_t kBytesInFlight = 32 * 1024 * 1024;
  static constexpr std::size_t kWorkInFlight = 256;

  LandingPool(std::size_t threads, FollowedCall& call);
  LandingPool(const LandingPool&) = delete;
  LandingPool& operator=(const LandingPool&) = delete;
  // Lets the work handed over finish (what comes after a failure is dropped) and ends the threads.
  ~LandingPool() { stop(); }
  // The same, earlier; no work may be handed after it.
  void stop() noexcept;

  std::size_t threads() const { return threads_; }

  // Runs work, which holds bytes of memory, on the thread key picks; with no threads, at once.
  // Waits while too much is in flight. Rethrows what earlier work failed with, and the user's stop.
  void hand(std::string_view key, std::size_t bytes, std::function<void()> work);
  // Waits until all work handed over is done; rethrows the first failure.
  void drain();

 private:
  struct Work {
    std::function<void()> run;
    std::size_t bytes;
    std::string key;
    std::uint64_t order;  // the order it was handed in
  };
  struct KeyInHand {
    std::size_t thread;
    std::size_t works;
  };
  std::size_t threadFor(const std::string& key);
  bool roomFor(std::size_t bytes, std::size_t works) const;
  bool handerMayGoOn() const;
  void serve(std::size_t index);
  void start();
  void waitUntil(std::unique_lock<std::mutex>& lock, const std::function<bool()>& done);
  void rethrowFailure(std::unique_lock<std::mutex>& lock);

  FollowedCall& call_;
  const std::size_t threads_;
  std::mutex mutex_;
  // One per thread: only the thread given work wakes.
  std::deque<std::condition_variable> workCame_;
  std::condition_variable workDone_;
  std::vector<std::deque<Work>> queues_;
  std::vector<std::size_t> load_;  // per thread: the bytes and work it holds, waiting or running
  std::unordered_map<std::string, KeyInHand> keysInHand_;
  std::vector<std::thread> workers_;  // started with the first work
  std::size_t bytesInFlight_ = 0;
  std::size_t workInFlight_ = 0;  // waiting or running
  // What the reading thread waits for room for, while it waits: it is woken once that room is
  // there, not at every piece of work done.
  std::optional<std::size_t> handerWaitsFor_;
  std::uint64_t handed_ = 0;
  // The failure of the earliest work handed that failed: work handed after it is dropped, work
  // handed before it still lands.
  std::exception_ptr failure_;
  std::uint64_t failedOrder_ = 0;
  bool failed_ = false;  // the failure was already rethrown, or is about to be
  bool ending_ = false;
};

}  // namespace archivers
