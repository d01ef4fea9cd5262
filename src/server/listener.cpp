#include "server/listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "server/connection.h"
#include "server/diag.h"

namespace palisim {

namespace {

void make_non_blocking(int fd) {
  int flags = fcntl(fd, F_GETFL, 0);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// When even the spare descriptor cannot take a pending connection, the
// listener rests this long rather than wake the loop again at once.
constexpr int64_t kAcceptRetryMs = 100;

}  // namespace

std::optional<in_addr> resolve_interface(const char* interface_name) {
  in_addr addr{};
  if (strcasecmp(interface_name, "any") == 0) {
    addr.s_addr = htonl(INADDR_ANY);
    return addr;
  }
  if (strcasecmp(interface_name, "localhost") == 0) {
    addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
  }
  if (inet_pton(AF_INET, interface_name, &addr) == 1) return addr;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (getaddrinfo(interface_name, nullptr, &hints, &res) != 0 || !res) return std::nullopt;
  std::optional<in_addr> found;
  if (res->ai_family == AF_INET) found = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
  freeaddrinfo(res);
  return found;
}

int setup_listener(const char* interface_name, uint16_t port) {
  std::optional<in_addr> addr = resolve_interface(interface_name);
  if (!addr) {
    errno = EADDRNOTAVAIL;
    return -1;
  }
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // Lets a restarted server bind while old connections linger in TIME_WAIT;
  // on Linux it does not let two listeners share a port.
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr = *addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    int err = errno;
    report_socket_error("bind() failed", err);
    close(fd);
    errno = err;
    return -1;
  }
  diag("marking as non-blocking and entering listen()...\n");
  make_non_blocking(fd);
  // As many pending connections as there are slots, so a burst of clients
  // does not wait for SYN retransmissions.
  if (listen(fd, kMaxConnections) != 0) {
    int err = errno;
    close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

int pending_error(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

void prepare_accepted_socket(int fd) {
  make_non_blocking(fd);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// A descriptor held in reserve for the moment the process runs out of them.
int Listener::open_spare() {
  return open("/dev/null", O_RDONLY | O_CLOEXEC);
}

Listener::~Listener() {
  if (spare_fd_ >= 0) close(spare_fd_);
}

short Listener::poll_events() const {
  return resume_ms_ != 0 ? 0 : POLLIN;
}

void Listener::on_deadline(int64_t now_ms) {
  if (resume_ms_ != 0 && now_ms >= resume_ms_) resume_ms_ = 0;
}

Listener::Outcome Listener::accept(int64_t now_ms, int& fd, sockaddr_in& peer) {
  socklen_t len = sizeof peer;
  fd = accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
  if (fd < 0) {
    // Another pass will see the next pending connection; only a real failure ends the loop.
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) {
      return Outcome::kNone;
    }
    // A shortage of descriptors or memory is the fault of that one connection.
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      shed_pending_connection(errno, now_ms);
      return Outcome::kNone;
    }
    report_socket_error("accept() failed...", errno);
    return Outcome::kFailed;
  }
  char addr[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &peer.sin_addr, addr, sizeof addr);
  diag("Accepted connection from %s:%d, socket %d.\n", addr, ntohs(peer.sin_port), fd);
  return Outcome::kAccepted;
}

// After muduo's Acceptor: the spare descriptor is given up to accept the
// pending connection and close it at once, so the client is told rather than
// left waiting and the listener does not stay readable; then it is taken again.
void Listener::shed_pending_connection(int error, int64_t now_ms) {
  if (spare_fd_ >= 0) close(spare_fd_);
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  int fd = accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
  if (fd >= 0) {
    close(fd);
    ++shed_;
    char addr[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &peer.sin_addr, addr, sizeof addr);
    char message[96];
    snprintf(message, sizeof message, "Closed the connection from %s:%d at once", addr,
             ntohs(peer.sin_port));
    report_socket_error(message, error);
  } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED) {
    report_socket_error("accept() failed...", errno);
    resume_ms_ = now_ms + kAcceptRetryMs;
  }
  spare_fd_ = open_spare();
}

}  // namespace palisim
