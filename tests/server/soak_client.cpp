#include "soak_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace palisim::testing {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStallLimit = std::chrono::seconds(20);
constexpr int kSlowReceiveBuffer = 4096;
constexpr size_t kSlowReadSize = 256;
constexpr size_t kSendSize = 65536;

int connect_to(int port, SoakStyle style) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  if (style == SoakStyle::kSlowReader) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kSlowReceiveBuffer, sizeof kSlowReceiveBuffer);
  }
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    close(fd);
    return -1;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  return fd;
}

class Checker {
 public:
  Checker(const SoakScript& script, const std::vector<ExpectedReply>& replies, SoakOutcome& out)
      : script_(script), replies_(replies), out_(out) {}

  // Takes received bytes and checks every reply they complete.
  void take(const char* bytes, size_t n) {
    if (done()) {
      out_.extra_bytes += n;
      return;
    }
    pending_.append(bytes, n);
    size_t start = 0;
    for (size_t end; !done() && (end = pending_.find(">\r\n", start)) != std::string::npos;
         start = end + 3) {
      check(std::string_view(pending_).substr(start, end + 3 - start));
    }
    pending_.erase(0, start);
    if (done()) {
      out_.extra_bytes += pending_.size();
      pending_.clear();
    }
  }

  bool done() const { return out_.replies_checked == static_cast<int>(script_.expected.size()); }

 private:
  void check(std::string_view reply) {
    const ExpectedReply& want = replies_[script_.expected[out_.replies_checked]];
    if (!want.matches(reply)) {
      if (out_.mismatches++ == 0) {
        out_.first_mismatch = "reply " + std::to_string(out_.replies_checked) + ": got " +
                              std::string(reply) + " expected " + want.sample();
      }
    }
    ++out_.replies_checked;
  }

  const SoakScript& script_;
  const std::vector<ExpectedReply>& replies_;
  SoakOutcome& out_;
  std::string pending_;  // received bytes of a reply not yet complete
};

void hang_up(int fd, SoakStyle style) {
  if (style == SoakStyle::kReset) {
    linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  }
  close(fd);
}

// After the last reply: stop sending and read to the end of the stream, so
// that any reply beyond the expected ones shows.
void drain_to_end(int fd, Checker& checker, SoakOutcome& out) {
  shutdown(fd, SHUT_WR);
  const Clock::time_point start = Clock::now();
  char buf[4096];
  while (Clock::now() - start < kStallLimit) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n > 0) {
      checker.take(buf, static_cast<size_t>(n));
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      return;
    }
  }
  out.timed_out = true;
}

}  // namespace

SoakOutcome run_soak_client(int port, const SoakScript& script, SoakStyle style,
                            const std::vector<ExpectedReply>& replies) {
  SoakOutcome out;
  Checker checker(script, replies, out);
  int fd = connect_to(port, style);
  if (fd < 0) {
    out.closed_early = true;
    return out;
  }
  const bool hangs_up = style == SoakStyle::kHangUp || style == SoakStyle::kReset;
  const int hang_up_at = static_cast<int>(script.expected.size() / 3);
  const size_t read_size = style == SoakStyle::kSlowReader ? kSlowReadSize : 65536;
  std::string buf(65536, '\0');
  size_t sent = 0;
  Clock::time_point last_progress = Clock::now();

  while (!checker.done()) {
    if (hangs_up && out.replies_checked >= hang_up_at) {
      hang_up(fd, style);
      return out;
    }
    if (Clock::now() - last_progress > kStallLimit) {
      out.timed_out = true;
      break;
    }
    pollfd p{fd, static_cast<short>(POLLIN | (sent < script.stream.size() ? POLLOUT : 0)), 0};
    if (poll(&p, 1, 100) <= 0) continue;
    if (p.revents & POLLOUT) {
      size_t n = std::min(kSendSize, script.stream.size() - sent);
      ssize_t w = send(fd, script.stream.data() + sent, n, MSG_NOSIGNAL);
      if (w > 0) {
        sent += static_cast<size_t>(w);
        last_progress = Clock::now();
      }
    }
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t n = recv(fd, buf.data(), read_size, 0);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        out.closed_early = true;
        break;
      }
      if (n > 0) {
        checker.take(buf.data(), static_cast<size_t>(n));
        last_progress = Clock::now();
        if (style == SoakStyle::kSlowReader)
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
  }
  if (checker.done()) drain_to_end(fd, checker, out);
  close(fd);
  return out;
}

}  // namespace palisim::testing
