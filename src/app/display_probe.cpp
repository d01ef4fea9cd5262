#include "app/display_probe.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "protocol/escaped_text.h"

namespace palisim {

namespace {

// A remote display that drops packets, or a listener that never speaks X,
// must not hold up the start for long.
constexpr int kConnectTimeoutMs = 2000;
// Of a refusal's reason, what the line shows.
constexpr size_t kReasonShown = 200;

// Connects a stream socket and closes it again; returns 0 or the errno.
int try_connect(int family, const sockaddr* address, socklen_t address_len) {
  int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return errno;
  int error = 0;
  if (connect(fd, address, address_len) != 0) {
    error = errno;
    if (error == EINPROGRESS) {
      pollfd pending = {fd, POLLOUT, 0};
      int n = poll(&pending, 1, kConnectTimeoutMs);
      socklen_t error_len = sizeof error;
      if (n == 0) {
        error = ETIMEDOUT;
      } else if (n < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &error_len) != 0) {
        error = errno;
      }
    }
  }
  close(fd);
  return error;
}

// A path socket, or with `abstract` the same name in Linux's abstract namespace.
int connect_unix(const std::string& path, bool abstract) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  size_t start = abstract ? 1 : 0;
  if (start + path.size() >= sizeof address.sun_path) return ENAMETOOLONG;
  std::memcpy(address.sun_path + start, path.data(), path.size());
  auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + start + path.size());
  return try_connect(AF_UNIX, reinterpret_cast<sockaddr*>(&address), len);
}

// "<what>: <error>" when nothing answered; empty when something did.
std::string reach_tcp(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  char service[12];
  std::snprintf(service, sizeof service, "%d", port);
  std::string what = host + " port " + service;
  if (int rc = getaddrinfo(host.c_str(), service, &hints, &found); rc != 0)
    return what + ": " + gai_strerror(rc);
  int error = 0;
  for (addrinfo* a = found; a; a = a->ai_next) {
    error = try_connect(a->ai_family, a->ai_addr, a->ai_addrlen);
    if (error == 0) break;
  }
  freeaddrinfo(found);
  return error == 0 ? std::string() : what + ": " + std::strerror(error);
}

std::string reach_unix(const std::string& path, bool also_abstract) {
  if (also_abstract && connect_unix(path, true) == 0) return {};
  int error = connect_unix(path, false);
  return error == 0 ? std::string() : path + ": " + std::strerror(error);
}

// DISPLAY is [protocol/][host]:number[.screen]. Without a host, or with
// "unix", the server is the local socket, tried in the abstract namespace
// first as libxcb does; a host means TCP port 6000 + number.
std::string reach_x11(const char* display) {
  if (display[0] == '/') return reach_unix(display, false);
  const char* colon = std::strrchr(display, ':');
  if (!colon || !std::isdigit(static_cast<unsigned char>(colon[1])))
    return "not of the form [host]:number";
  char* end = nullptr;
  long number = std::strtol(colon + 1, &end, 10);
  if (number > 59535 || (*end && *end != '.')) return "not of the form [host]:number";
  const char* host_start = display;
  std::string_view protocol;
  if (const char* slash = std::strchr(display, '/'); slash && slash < colon) {
    protocol = std::string_view(display, static_cast<size_t>(slash - display));
    host_start = slash + 1;
  }
  std::string host(host_start, colon);
  if (host.empty() || host == "unix" || protocol == "unix")
    return reach_unix("/tmp/.X11-unix/X" + std::to_string(number), true);
  return reach_tcp(host, 6000 + static_cast<int>(number));
}

// WAYLAND_DISPLAY is a socket name in XDG_RUNTIME_DIR, or an absolute path.
std::string reach_wayland(const char* name) {
  if (name[0] == '/') return reach_unix(name, false);
  const char* runtime_dir = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime_dir || !*runtime_dir) return "XDG_RUNTIME_DIR is not set";
  return reach_unix(std::string(runtime_dir) + "/" + name, false);
}

// The greeting runs in a child process: one that gets no answer is killed
// when the time is up (a thread would stay blocked for good), the X
// library's words on a refusal arrive through its standard error, and the
// parent, with its signals at their defaults, ends on SIGTERM meanwhile.
// Empty when the set-up completed.
std::string greet_within(X11Greeting greet, const char* display) {
  int said[2];
  if (pipe2(said, O_CLOEXEC) != 0) return std::string("pipe: ") + std::strerror(errno);
  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child == 0) {
    // Gone with the parent, even when it is killed.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);
    dup2(said[1], STDERR_FILENO);
    _exit(greet(display) ? 0 : 1);
  }
  close(said[1]);
  if (child < 0) {
    close(said[0]);
    return std::string("fork: ") + std::strerror(errno);
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
  std::string reason;
  bool ended = false;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd from_child{said[0], POLLIN, 0};
    int n = poll(&from_child, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
    if (n < 0 && errno == EINTR) continue;
    char buf[256];
    ssize_t got = n > 0 ? read(said[0], buf, sizeof buf) : 0;
    if (n <= 0 || got <= 0) {
      ended = n > 0;
      break;
    }
    reason.append(buf, static_cast<size_t>(got));
    reason.resize(std::min(reason.size(), kReasonShown));
  }
  close(said[0]);
  if (!ended) kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  if (!ended) return "no answer to the X11 connection set-up within 2 seconds";
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
  while (!reason.empty() && std::isspace(static_cast<unsigned char>(reason.back())))
    reason.pop_back();
  if (reason.empty()) return "the X11 connection set-up failed";
  // The server's own words, kept to one line of text.
  std::string shown(4 * reason.size() + 1, '\0');
  shown.resize(escape_bytes(reason, shown));
  return "the X server refused the connection: " + shown;
}

}  // namespace

bool probe_display(std::string& why, X11Greeting greet) {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  bool have_x11 = x11 && *x11;
  bool have_wayland = wayland && *wayland;
  if (!have_x11 && !have_wayland) {
    why = "No display found";
    return false;
  }
  why = "No reachable display:";
  if (have_x11) {
    std::string failure = reach_x11(x11);
    if (failure.empty() && greet) failure = greet_within(greet, x11);
    if (failure.empty()) return true;
    why += std::string(" DISPLAY '") + x11 + "' (" + failure + ")";
  }
  if (have_wayland) {
    std::string failure = reach_wayland(wayland);
    if (failure.empty()) return true;
    why += std::string(" WAYLAND_DISPLAY '") + wayland + "' (" + failure + ")";
  }
  return false;
}

}  // namespace palisim
