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

namespace archivers::cab {

// The bytes one job produces, passed on in order. They stay in memory up to a cap; a job that
// runs ahead of the consumer and goes past it continues into an unnamed temporary file, so
// memory stays bounded whatever the number of jobs in flight. The job the consumer is draining
// never spills: it waits for room instead.
class JobOutput {
 public:
  JobOutput(std::string spillFolder, std::size_t memoryCap)
      : spillFolder_(std::move(spillFolder)), memoryCap_(memoryCap) {}
  JobOutput(const JobOutput&) = delete;
  JobOutput& operator=(const JobOutput&) = delete;
  ~JobOutput();

  // Producer: one record (e.g. a data block). Throws when the pipeline was cancelled.
  void append(std::span<const std::uint8_t> record);
  void finish(std::exception_ptr error);

  // Consumer: from now on the bytes are drained as they come.
  void attach();
  // The next bytes in order into chunk; false at the end. Rethrows the job's failure.
  bool next(std::vector<std::uint8_t>& chunk);
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
  std::size_t jobsAhead = 2;  // jobs started beyond the one being consumed
  std::size_t memoryPerJob = 1 << 20;
  std::string spillFolder;
};

// Runs jobs 0..count-1 on a pool of limits.threads threads and hands each job's bytes to consume
// in job order, then its record count to finished, on the calling thread. What comes out does
// not depend on the number of threads. The first failure (of a job or of consume) cancels the
// rest and is rethrown once every thread has stopped.
void runOrdered(std::size_t count, const PipelineLimits& limits,
                const std::function<void(std::size_t job, unsigned worker, JobOutput&)>& produce,
                const std::function<void(std::size_t job, std::span<const std::uint8_t>)>& consume,
                const std::function<void(std::size_t job, std::uint32_t records)>& finished);

// PARVO_THREADS when set to a positive number, else the number of cores.
unsigned configuredThreads();

}  // namespace archivers::cab
