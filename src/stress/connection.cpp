#include "stress/connection.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace palisim::stress {

std::optional<in_addr> resolve_host(const char* host) {
  in_addr addr{};
  if (strcasecmp(host, "any") == 0) {
    addr.s_addr = htonl(INADDR_ANY);
    return addr;
  }
  if (strcasecmp(host, "localhost") == 0) {
    addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
  }
  if (inet_aton(host, &addr) != 0) return addr;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &res) != 0 || !res) return std::nullopt;
  addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
  freeaddrinfo(res);
  return addr;
}

int64_t now_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * kNsPerSecond + ts.tv_nsec;
}

bool wait_until(int fd, short events, int64_t deadline_ns) {
  for (;;) {
    int64_t left_ns = deadline_ns - now_ns();
    if (left_ns <= 0) return false;
    pollfd p{fd, events, 0};
    // Rounded up, so the last part of a millisecond is not spent spinning.
    int ms = static_cast<int>(std::min<int64_t>((left_ns + 999'999) / 1'000'000, INT32_MAX));
    int ready = poll(&p, 1, ms);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return true;  // the next send or receive reports it
  }
}

ConnectResult open_connection(in_addr address, uint16_t port, int timeout_ms) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return {-1, ConnectFailure::kSocket};
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr = address;
  if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    int err = errno;
    if (err == EINPROGRESS) {
      if (!wait_until(fd, POLLOUT, now_ns() + int64_t{timeout_ms} * 1'000'000)) {
        close(fd);
        return {-1, ConnectFailure::kTimedOut};
      }
      socklen_t len = sizeof err;
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
    }
    if (err != 0) {
      close_gracefully(fd);
      return {-1, ConnectFailure::kConnect};
    }
  }
  return {fd, ConnectFailure::kNone};
}

void close_gracefully(int fd) {
  if (shutdown(fd, SHUT_WR) == 0) {
    char scratch[1024];
    // Non-blocking: ends at the end of the stream, an error, or when nothing waits.
    while (recv(fd, scratch, sizeof scratch, 0) > 0) {
    }
  }
  close(fd);
}

}  // namespace palisim::stress
