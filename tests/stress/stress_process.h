// Runs palisimstress as a child process and collects its standard output,
// standard error, exit status and processor time, killing it if it runs too
// long.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace palisim::stress::testing {

struct StressRun {
  int status;               // exit status; -1 when it had to be killed
  std::string output;       // everything written to standard output
  double seconds;           // from just before the start to the exit
  std::string errors = {};  // everything written to standard error
  double cpu_seconds = 0;   // user and system time the run used
};

inline StressRun run_stress(std::vector<std::string> args, int timeout_ms = 20000) {
  std::string bin = std::string(STRESS_BINARY_DIR) + "/palisimstress";
  std::vector<char*> argv{bin.data()};
  for (std::string& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);

  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return {-1, "pipe failed", 0};
  auto started = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {out[0], out[1], err[0], err[1]})
      close(fd);
    execv(bin.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  StressRun run{-1, {}, 0};
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  bool killed = false;
  char buf[4096];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{out[0], POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) == 0) {
      kill(pid, SIGKILL);
      killed = true;
      break;
    }
    ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    run.output.append(buf, static_cast<size_t>(n));
  }
  close(out[0]);
  int st = 0;
  rusage used{};
  wait4(pid, &st, 0, &used);
  // A few lines at most, so they waited in the pipe.
  for (ssize_t n; (n = read(err[0], buf, sizeof buf)) > 0;)
    run.errors.append(buf, static_cast<size_t>(n));
  close(err[0]);
  run.cpu_seconds = static_cast<double>(used.ru_utime.tv_sec + used.ru_stime.tv_sec) +
                    static_cast<double>(used.ru_utime.tv_usec + used.ru_stime.tv_usec) / 1e6;
  if (!killed && WIFEXITED(st)) run.status = WEXITSTATUS(st);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return run;
}

}  // namespace palisim::stress::testing
