// Runs palisim-cli (or any program) to its end with the given standard
// input, and keeps its exit status, standard output and standard error.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace palisim::testing {

inline const std::string kCli = std::string(PALISIM_BINARY_DIR) + "/palisim-cli";
inline const std::string kSourceDir = PALISIM_SOURCE_DIR;
inline const std::string kShippedConfig = kSourceDir + "/atalla.conf";
// The X9.24 BDK, and PIN key A of the protocol guide as a block under the shipped MFK.
inline const std::string kBdk = "0123456789ABCDEFFEDCBA9876543210";
inline const std::string kPinKeyABlock =
    "1PUNE000,35DEC7FD540FED3FB857674618E45AA1A9EF8D31C895C115,B3E41E6DEDE80F6A";

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string temp_file(const std::string& text) {
  char path[] = "/tmp/palisim-cli-XXXXXX";
  int fd = mkstemp(path);
  std::ofstream(path) << text;
  close(fd);
  return path;
}

inline std::string slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline Outcome run_program(std::vector<std::string> argv, const std::string& input = "",
                           const std::string& dir = "") {
  const std::string in = temp_file(input), out = temp_file(""), err = temp_file("");
  pid_t pid = fork();
  if (pid == 0) {
    if (!freopen(in.c_str(), "r", stdin) || !freopen(out.c_str(), "w", stdout) ||
        !freopen(err.c_str(), "w", stderr) || (!dir.empty() && chdir(dir.c_str()) != 0)) {
      _exit(126);
    }
    std::vector<char*> args;
    for (std::string& a : argv)
      args.push_back(a.data());
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int st = 0;
  waitpid(pid, &st, 0);
  Outcome r{WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st), slurp(out), slurp(err)};
  for (const std::string& path : {in, out, err})
    unlink(path.c_str());
  return r;
}

inline Outcome cli(std::vector<std::string> args, const std::string& input = "") {
  args.insert(args.begin(), kCli);
  return run_program(args, input);
}

}  // namespace palisim::testing
