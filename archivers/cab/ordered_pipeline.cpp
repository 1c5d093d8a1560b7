#include "cab/ordered_pipeline.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "common/archive_error.h"
#include "common/progress.h"

namespace archivers::cab {
namespace {

struct Cancelled {};

// The consumer runs on the calling thread, whose progress must stay shown and whose cancel must
// be noticed while it waits for the workers.
template <typename Ready>
void waitServicingProgress(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                           FollowedCall& call, Ready ready) {
  while (!changed.wait_for(lock, std::chrono::milliseconds(40), ready)) {
    lock.unlock();
    call.checkpoint();
    lock.lock();
  }
}

[[noreturn]] void failSpill(const char* what, int error) {
  throw ArchiveError(Result::kWriteFailed,
                     std::string("cannot ") + what + " a temporary file: " + std::strerror(error));
}

}  // namespace

TaskOutput::~TaskOutput() {
  if (spillFd_ >= 0) ::close(spillFd_);
}

void TaskOutput::openSpill() {
  const std::string folder = spillFolder_.empty() ? "." : spillFolder_;
  spillFd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (spillFd_ >= 0) return;
  std::string name = folder + "/.parvo-spill-XXXXXX";
  spillFd_ = ::mkostemp(name.data(), O_CLOEXEC);
  if (spillFd_ < 0) failSpill("create", errno);
  ::unlink(name.c_str());
}

void TaskOutput::append(std::span<const std::uint8_t> record) {
  std::unique_lock lock(mutex_);
  if (spillFd_ < 0) {
    if (attached_) {
      changed_.wait(lock, [&] {
        return cancelled_ || memory_.empty() || memory_.size() + record.size() <= memoryCap_;
      });
    }
    if (cancelled_) throw Cancelled();
    if (attached_ || memory_.size() + record.size() <= memoryCap_) {
      memory_.insert(memory_.end(), record.begin(), record.end());
      ++records_;
      changed_.notify_all();
      return;
    }
    openSpill();
  }
  if (cancelled_) throw Cancelled();
  for (std::size_t written = 0; written < record.size();) {
    const ssize_t result = ::pwrite(spillFd_, record.data() + written, record.size() - written,
                                    static_cast<off_t>(spilled_ + written));
    if (result < 0 && errno != EINTR) failSpill("write", errno);
    if (result > 0) written += static_cast<std::size_t>(result);
  }
  spilled_ += record.size();
  ++records_;
  changed_.notify_all();
}

void TaskOutput::finish(std::exception_ptr error) {
  const std::lock_guard lock(mutex_);
  done_ = true;
  error_ = std::move(error);
  changed_.notify_all();
}

void TaskOutput::attach() {
  const std::lock_guard lock(mutex_);
  attached_ = true;
}

void TaskOutput::cancel() {
  const std::lock_guard lock(mutex_);
  cancelled_ = true;
  changed_.notify_all();
}

bool TaskOutput::next(std::vector<std::uint8_t>& chunk, FollowedCall& call) {
  std::unique_lock lock(mutex_);
  waitServicingProgress(lock, changed_, call,
                        [&] { return !memory_.empty() || spillRead_ < spilled_ || done_; });
  if (!memory_.empty()) {
    chunk.swap(memory_);
    memory_.clear();
    changed_.notify_all();
    return true;
  }
  if (spillRead_ < spilled_) {
    const std::uint64_t from = spillRead_;
    chunk.resize(static_cast<std::size_t>(std::min<std::uint64_t>(spilled_ - from, 1 << 20)));
    lock.unlock();
    for (std::size_t read = 0; read < chunk.size();) {
      const ssize_t result = ::pread(spillFd_, chunk.data() + read, chunk.size() - read,
                                     static_cast<off_t>(from + read));
      if (result < 0 && errno != EINTR) failSpill("read", errno);
      if (result == 0) failSpill("read", EIO);
      if (result > 0) read += static_cast<std::size_t>(result);
    }
    lock.lock();
    spillRead_ += chunk.size();
    return true;
  }
  if (error_) std::rethrow_exception(error_);
  return false;
}

void runOrdered(std::size_t count, const PipelineLimits& limits, FollowedCall& call,
                const std::function<void(std::size_t task, unsigned worker, TaskOutput&)>& produce,
                const std::function<void(std::size_t task, std::span<const std::uint8_t>)>& consume,
                const std::function<void(std::size_t task, std::uint32_t records)>& finished) {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::unique_ptr<TaskOutput>> outputs(count);
  std::size_t nextTask = 0;
  std::size_t head = 0;  // the task being consumed
  bool cancelled = false;

  auto work = [&](unsigned worker) {
    for (;;) {
      TaskOutput* output = nullptr;
      std::size_t task = 0;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] {
          return cancelled || nextTask == count || nextTask <= head + limits.tasksAhead;
        });
        if (cancelled || nextTask == count) return;
        task = nextTask++;
        outputs[task] = std::make_unique<TaskOutput>(limits.spillFolder, limits.memoryPerTask);
        output = outputs[task].get();
        changed.notify_all();
      }
      try {
        produce(task, worker, *output);
        output->finish(nullptr);
      } catch (...) {
        output->finish(std::current_exception());
      }
    }
  };

  std::vector<std::thread> threads;
  auto stop = [&] {
    {
      const std::lock_guard lock(mutex);
      cancelled = true;
      for (const std::unique_ptr<TaskOutput>& output : outputs) {
        if (output) output->cancel();
      }
      changed.notify_all();
    }
    for (std::thread& thread : threads) thread.join();
  };
  try {
    for (unsigned i = 0; i < std::max(1u, limits.threads); ++i) threads.emplace_back(work, i);
    std::vector<std::uint8_t> chunk;
    for (std::size_t task = 0; task < count; ++task) {
      TaskOutput* output = nullptr;
      {
        std::unique_lock lock(mutex);
        waitServicingProgress(lock, changed, call, [&] { return outputs[task] != nullptr; });
        output = outputs[task].get();
      }
      output->attach();
      while (output->next(chunk, call)) {
        consume(task, chunk);
        call.checkpoint();
      }
      finished(task, output->records());
      const std::lock_guard lock(mutex);
      outputs[task].reset();
      head = task + 1;
      changed.notify_all();
    }
  } catch (...) {
    stop();
    throw;
  }
  stop();
}

unsigned configuredThreads() {
  if (const char* configured = std::getenv("PARVO_THREADS")) {
    char* end = nullptr;
    const unsigned long threads = std::strtoul(configured, &end, 10);
    if (end != configured && *end == '\0' && threads > 0) {
      return static_cast<unsigned>(std::min(threads, 64ul));
    }
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace archivers::cab
