#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// The built program.
inline const std::string kParvo = std::string(PARVO_BINARY_DIR) + "/bin/parvo";

// Starts a program in directory with exactly the given environment, standard input from
// /dev/null, standard output and error to outputFd; keepFd alone stays open across the exec.
inline pid_t startProcess(const std::vector<std::string>& argv,
                          const std::vector<std::string>& environment, const std::string& directory,
                          int outputFd, int keepFd = -1) {
  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child > 0) return child;
  dup2(outputFd, STDOUT_FILENO);
  dup2(outputFd, STDERR_FILENO);
  dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
  if (keepFd >= 0) fcntl(keepFd, F_SETFD, 0);
  if (chdir(directory.c_str()) != 0) _exit(126);
  std::vector<char*> args, env;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  for (const auto& e : environment) env.push_back(const_cast<char*>(e.c_str()));
  args.push_back(nullptr);
  env.push_back(nullptr);
  execve(args[0], args.data(), env.data());
  _exit(127);
}

// Runs a program to its end and collects what it prints.
struct ProcessResult {
  int exitStatus = -1;  // -1 when it did not exit normally
  std::string output;   // standard output and standard error together
};

inline ProcessResult runProcess(const std::vector<std::string>& argv,
                                const std::vector<std::string>& environment,
                                const std::string& directory = ".") {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const pid_t child = startProcess(argv, environment, directory, pipeFds[1]);
  close(pipeFds[1]);
  ProcessResult result;
  char buffer[4096];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
    result.output.append(buffer, static_cast<std::size_t>(n));
  }
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  return result;
}

// A program left running while the test acts, its output to outputFile; killed if it is still
// running at the end.
class RunningProgram {
 public:
  RunningProgram(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                 const std::string& outputFile, int keepFd = -1) {
    const int output = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_ = startProcess(argv, environment, ".", output, keepFd);
    close(output);
  }
  ~RunningProgram() {
    if (status_) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  // The exit status (-1 when it did not exit by itself: a signal, a crash), or nothing if the
  // program has not ended within the time. Without one it waits as long as it takes: a program
  // that hangs is ended by the test's own time limit.
  std::optional<int> waitForExit(std::chrono::milliseconds limit = std::chrono::hours(24)) {
    for (const auto end = std::chrono::steady_clock::now() + limit; !status_;) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      } else if (std::chrono::steady_clock::now() >= end) {
        return std::nullopt;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    return status_;
  }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// An Xvfb server on a display number of its own choosing, killed at the end or by stop(). name()
// is ":N", or empty when the server did not start (its output is in logFile).
class VirtualDisplay {
 public:
  explicit VirtualDisplay(const std::string& logFile) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
    server_.emplace(
        std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", std::to_string(pipeFds[1]),
                                 "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"},
        std::vector<std::string>{"PATH=/usr/bin:/bin"}, logFile, pipeFds[1]);
    close(pipeFds[1]);
    std::string number;
    char character = 0;
    while (read(pipeFds[0], &character, 1) == 1 && character != '\n') number += character;
    close(pipeFds[0]);
    if (!number.empty()) name_ = ":" + number;
  }
  const std::string& name() const { return name_; }
  void stop() { server_.reset(); }

 private:
  std::optional<RunningProgram> server_;
  std::string name_;
};
