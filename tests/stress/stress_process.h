// Runs palisimstress as a child process and collects its standard output and
// exit status, killing it if it runs too long.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace palisim::stress::testing {

struct StressRun {
  int status;          // exit status; -1 when it had to be killed
  std::string output;  // everything written to standard output
  double seconds;      // from just before the start to the exit
};

inline StressRun run_stress(std::vector<std::string> args, int timeout_ms = 20000) {
  std::string bin = std::string(STRESS_BINARY_DIR) + "/palisimstress";
  std::vector<char*> argv{bin.data()};
  for (std::string& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);

  int out[2];
  if (pipe(out) != 0) return {-1, "pipe failed", 0};
  auto started = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    execv(bin.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
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
  waitpid(pid, &st, 0);
  if (!killed && WIFEXITED(st)) run.status = WEXITSTATUS(st);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return run;
}

}  // namespace palisim::stress::testing
