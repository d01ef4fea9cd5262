#include "client/connection.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

namespace palisim {

ClientConnection::~ClientConnection() {
  if (fd_ >= 0) close(fd_);
}

bool ClientConnection::open(const char* host, int port, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (int rc = getaddrinfo(host, service.c_str(), &hints, &found); rc != 0) {
    error = std::string("cannot resolve ") + host + ": " + gai_strerror(rc);
    return false;
  }
  int last_errno = 0;
  for (addrinfo* a = found; a && fd_ < 0; a = a->ai_next) {
    int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    if (connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
      fd_ = fd;
    } else {
      last_errno = errno;
      close(fd);
    }
  }
  freeaddrinfo(found);
  if (fd_ < 0) {
    error = std::string("cannot connect to ") + host + ":" + service + ": " + strerror(last_errno);
  }
  return fd_ >= 0;
}

bool ClientConnection::send_line(std::string_view line) {
  std::string out(line);
  out += '\r';
  for (size_t done = 0; done < out.size();) {
    ssize_t n = send(fd_, out.data() + done, out.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

ReadResult ClientConnection::read_reply(std::string& reply, int timeout_ms) {
  // A server that sends a byte now and then must not hold the client longer.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
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
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{fd_, POLLIN, 0};
    int ready = poll(&p, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return ReadResult::kFailed;
    if (ready == 0) return ReadResult::kTimedOut;
    char buf[4096];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) return ReadResult::kClosed;
    if (n < 0) return errno == ECONNRESET ? ReadResult::kClosed : ReadResult::kFailed;
    pending_.append(buf, static_cast<size_t>(n));
  }
}

}  // namespace palisim
