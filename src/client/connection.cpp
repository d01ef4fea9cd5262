#include "client/connection.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace palisim {

namespace {

// Why a send or read on a connection that never opened failed.
constexpr const char* kNotConnected = "not connected";

// Connects the non-blocking fd to a, waiting until the deadline; 0, or the
// errno of the failure (ETIMEDOUT at the deadline).
int connect_by(int fd, const addrinfo* a, Deadline deadline) {
  if (connect(fd, a->ai_addr, a->ai_addrlen) == 0) return 0;
  if (errno != EINPROGRESS) return errno;
  WaitResult waited = wait_for(fd, POLLOUT, deadline);
  if (waited == WaitResult::kTimedOut) return ETIMEDOUT;
  if (waited == WaitResult::kFailed) return errno;
  int err = 0;
  socklen_t len = sizeof err;
  getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
  return err;
}

}  // namespace

ClientConnection::~ClientConnection() {
  tls_.reset();
  if (fd_ >= 0) close(fd_);
}

bool ClientConnection::open(const char* host, int port, std::string& error,
                            const ClientTlsOptions& tls, int timeout_ms) {
  timeout_ms_ = timeout_ms;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (int rc = getaddrinfo(host, service.c_str(), &hints, &found); rc != 0) {
    error = std::string("cannot resolve ") + host + ": " + gai_strerror(rc);
    return false;
  }
  // One time-out for all the addresses of the host together.
  const Deadline deadline = deadline_after(timeout_ms);
  int last_errno = 0;
  for (addrinfo* a = found; a && fd_ < 0; a = a->ai_next) {
    int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) continue;
    last_errno = connect_by(fd, a, deadline);
    if (last_errno == 0) {
      fd_ = fd;
    } else {
      close(fd);
    }
  }
  freeaddrinfo(found);
  if (fd_ < 0) {
    error = std::string("cannot connect to ") + host + ":" + service + ": " +
            (last_errno == ETIMEDOUT ? no_answer_within(timeout_ms) : strerror(last_errno));
    return false;
  }
  if (!tls.on) return true;
  tls_ = std::make_unique<TlsClient>();
  if (tls_->connect(fd_, host, tls, timeout_ms, error)) return true;
  error = std::string(host) + ":" + service + ": " + error;
  // Sends and reads find no connection rather than a TLS without a session.
  tls_.reset();
  close(fd_);
  fd_ = -1;
  return false;
}

bool ClientConnection::wait(short events, Deadline deadline) {
  switch (wait_for(fd_, events, deadline)) {
    case WaitResult::kReady:
      return true;
    case WaitResult::kTimedOut:
      error_ = no_answer_within(timeout_ms_);
      return false;
    case WaitResult::kFailed:
      error_ = strerror(errno);
      return false;
  }
  return false;
}

bool ClientConnection::send_line(std::string_view line) {
  if (fd_ < 0) {
    error_ = kNotConnected;
    return false;
  }
  std::string out(line);
  out += '\r';
  Deadline deadline = deadline_after(timeout_ms_);
  for (size_t done = 0; done < out.size();) {
    ssize_t n = tls_ ? tls_->write({out.data() + done, out.size() - done})
                     : send(fd_, out.data() + done, out.size() - done, MSG_NOSIGNAL);
    bool blocked = tls_ ? n == kTlsWouldBlock : n < 0 && (errno == EAGAIN || errno == EINTR);
    if (blocked) {
      if (!wait(tls_ ? tls_->wanted_events() : POLLOUT, deadline)) return false;
      continue;
    }
    if (n <= 0) {
      error_ = tls_ ? tls_->error() : std::string(strerror(errno));
      return false;
    }
    done += static_cast<size_t>(n);
    // The time-out is for a server that takes nothing, not for a long line.
    deadline = deadline_after(timeout_ms_);
  }
  return true;
}

ReadResult ClientConnection::read_reply(std::string& reply, int timeout_ms) {
  if (fd_ < 0) {
    error_ = kNotConnected;
    return ReadResult::kFailed;
  }
  // A server that sends a byte now and then must not hold the client longer.
  const Deadline deadline = deadline_after(timeout_ms);
  short events = POLLIN;
  bool blocked = false;  // TLS waits for the socket, whatever it holds buffered
  for (;;) {
    const size_t open = pending_.find('<');
    const size_t close = open == std::string::npos ? open : pending_.find('>', open);
    if (close != std::string::npos) {
      reply = pending_.substr(open, close - open + 1);
      pending_.erase(0, close + 1);
      return ReadResult::kReply;
    }
    // Bounded, so the searches above stay cheap too.
    if (pending_.size() - (open == std::string::npos ? 0 : open) > kMaxReplyBytes) {
      return ReadResult::kTooLong;
    }
    if (blocked || !tls_ || !tls_->has_buffered_input()) {
      switch (wait_for(fd_, events, deadline)) {
        case WaitResult::kReady:
          break;
        case WaitResult::kTimedOut:
          return ReadResult::kTimedOut;
        case WaitResult::kFailed:
          error_ = strerror(errno);
          return ReadResult::kFailed;
      }
    }
    char buf[4096];
    ssize_t n = tls_ ? tls_->read(buf) : recv(fd_, buf, sizeof buf, 0);
    // A TLS record only partly arrived, or a message that carried no data
    // (a session ticket): wait again, for what TLS asks.
    blocked = tls_ && n == kTlsWouldBlock;
    events = blocked ? tls_->wanted_events() : POLLIN;
    if (blocked) continue;
    if (n < 0 && !tls_ && (errno == EINTR || errno == EAGAIN)) continue;
    if (n == 0) return ReadResult::kClosed;
    if (n < 0 && !tls_ && errno == ECONNRESET) return ReadResult::kClosed;
    if (n < 0) {
      error_ = tls_ ? tls_->error() : std::string(strerror(errno));
      return ReadResult::kFailed;
    }
    pending_.append(buf, static_cast<size_t>(n));
  }
}

}  // namespace palisim
