#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace archivers {
class FollowedCall;
}

namespace archivers::cab {

// The bytes one task produces, passed on in order. They stay in memory up to a cap; a task that
// runs ahead of the consumer and goes past it continues into an unnamed temporary file, so
// memory stays bounded whatever the number of tasks in flight. The task the consumer is draining
// never spills: it waits for room instead.
class TaskOutput {
 public:
  TaskOutput(std::string spillFolder, std::size_t memoryCap)
      : spillFolder_(std::move(spillFolder)), memoryCap_(memoryCap) {}
  TaskOutput(const TaskOutput&) = delete;
  TaskOutput& operator=(const TaskOutput&) = delete;
  ~TaskOutput();

  // Producer: one record (e.g. a data block). Throws when the pipeline was cancelled.
  void append(std::span<const std::uint8_t> record);
  void finish(std::exception_ptr error);

  // Consumer: from now on the bytes are drained as they come.
  void attach();
  // The next bytes in order into chunk; false at the end. Rethrows the task's failure. The wait
  // for them services the call's progress.
  bool next(std::vector<std::uint8_t>& chunk, FollowedCall& call);
  std::uint32_t records() const { return records_; }
  void cancel();

 private:
  void openSpill();

  const std::string spillFolder_;
  const std::size_t memoryCap_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::uint8_t> memory_;  // bytes not yet taken, all before any spilled ones
  int spillFd_ = -1;
  std::uint64_t spilled_ = 0;
  std::uint64_t spillRead_ = 0;
  std::uint32_t records_ = 0;
  bool attached_ = false;
  bool done_ = false;
  bool cancelled_ = false;
  std::exception_ptr error_;
};

struct PipelineLimits {
  unsigned threads = 1;
  std::size_t tasksAhead = 2;  // tasks started beyond the one being consumed
  std::size_t memoryPerTask = 1 << 20;
  std::string spillFolder;
};

// Runs tasks 0..count-1 on a pool of limits.threads threads and hands each task's bytes to consume
// in task order, then its record count to finished, on the calling thread. What comes out does
// not depend on the number of threads. The first failure (of a task or of consume) cancels the
// rest and is rethrown once every thread has stopped. The calling thread's waits and each chunk
// consumed are checkpoints of call.
void runOrdered(std::size_t count, const PipelineLimits& limits, FollowedCall& call,
                const std::function<void(std::size_t task, unsigned worker, TaskOutput&)>& produce,
                const std::function<void(std::size_t task, std::span<const std::uint8_t>)>& consume,
                const std::function<void(std::size_t task, std::uint32_t records)>& finished);

// PARVO_THREADS when set to a positive number, else the number of cores.
unsigned configuredThreads();

}  // namespace archivers::cab
