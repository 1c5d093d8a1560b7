#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

// Runs action in a child process that an alarm ends after the given seconds, so that a call which
// blocks fails its test instead of hanging the suite. Returns the child's exit status, or -1 when
// it did not exit by itself (the alarm ended it, or it crashed).
inline int exitStatusInChild(unsigned seconds, const std::function<int()>& action) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    alarm(seconds);
    _exit(action());
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}
