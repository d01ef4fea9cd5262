#include "server/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <memory>

#include "config/settings_cache.h"
#include "server/connection.h"
#include "server/diag.h"
#include "server/fault_injection.h"
#include "server/request_trace.h"
#include "server/stop_signal.h"
#include "server/tls_session.h"

namespace palisim {

namespace {

int pending_error(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

void make_non_blocking(int fd) {
  int flags = fcntl(fd, F_GETFL, 0);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

int64_t monotonic_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// A descriptor held in reserve for the moment the process runs out of them.
int open_spare_descriptor() {
  return open("/dev/null", O_RDONLY | O_CLOEXEC);
}

// When even the spare descriptor cannot take a pending connection, the
// listener rests this long rather than wake the loop again at once.
constexpr int64_t kAcceptRetryMs = 100;

// A TLS client has this long, or its idle limit when shorter, to complete
// its handshake.
constexpr int64_t kHandshakeLimitMs = 10'000;

int64_t earliest(int64_t a, int64_t b) {
  if (a == 0) return b;
  if (b == 0) return a;
  return std::min(a, b);
}

// The server's one thread of work: polls the listener, the stop signal and
// every connection, and serves whichever is ready until told to stop.
class EventLoop {
 public:
  EventLoop(int listener, int tls_listener, ServerHooks* hooks, const StopSignal* stop,
            SettingsSource source)
      : listener_(listener),
        tls_listener_(tls_listener),
        hooks_(hooks),
        stop_(stop),
        settings_(source.config_path, source.section_title, source.inject_rules, source.reread) {
    if (hooks_ && hooks_->trace != TraceMode::kOff) {
      trace_ = std::make_unique<RequestTrace>(hooks_->trace);
    }
  }
  ~EventLoop() {
    if (spare_fd_ >= 0) close(spare_fd_);
  }

  // Serves until stopped; false when the loop ended without being asked to.
  bool run();

 private:
  int build_poll_set();
  bool accept_one(int listener, int64_t now);
  void shed_pending_connection(int listener, int error);
  void serve(Connection& c, short revents);
  void send_output(Connection& c);
  void close_connection(Connection& c, const char* message);
  void release_due_replies(int64_t now);
  void close_idle_connections(int64_t now);
  void close_all_connections();

  int listener_;
  int tls_listener_;  // -1 without TLS
  ServerHooks* hooks_;
  const StopSignal* stop_;
  SettingsCache settings_;                  // what each accepted connection starts with
  int spare_fd_ = open_spare_descriptor();  // -1 while the process has none to spare
  int64_t accept_resume_ms_ = 0;            // the listener rests until then; 0 when it does not
  int64_t deadline_ms_ = 0;  // the earliest idle deadline, due reply or end of rest; 0 when none
  // Each connection with inject rules starts its generator from the next value.
  uint64_t random_state_ = static_cast<uint64_t>(monotonic_ms());
  ConnectionTable table_;
  std::unique_ptr<RequestTrace> trace_;  // null when the trace is off
  int first_connection_ = 0;             // poll entry of the first connection
  bool buffered_ = false;                // a TLS connection holds bytes read that no poll announces
  // Poll entries: the listener, the stop signal, the TLS listener, one per
  // slot in use, then standard output while diagnostics wait for room in it.
  std::array<pollfd, kMaxConnections + 4> fds_{};
  std::array<Connection*, kMaxConnections + 4> owners_{};
};

int EventLoop::build_poll_set() {
  int n = 0;
  fds_[n++] = {listener_, static_cast<short>(accept_resume_ms_ ? 0 : POLLIN), 0};
  if (stop_) fds_[n++] = {stop_->fd(), POLLIN, 0};
  if (tls_listener_ >= 0) {
    fds_[n++] = {tls_listener_, static_cast<short>(accept_resume_ms_ ? 0 : POLLIN), 0};
  }
  first_connection_ = n;
  deadline_ms_ = accept_resume_ms_;
  buffered_ = false;
  for (Connection& c : table_) {
    if (!c.in_use) continue;
    if (c.idle_limit_ms != 0)
      deadline_ms_ = earliest(deadline_ms_, c.idle_since_ms + c.idle_limit_ms);
    deadline_ms_ = earliest(deadline_ms_, c.held_until_ms);
    deadline_ms_ = earliest(deadline_ms_, c.handshake_until_ms);
    short events = 0;
    if (c.handshaking()) {
      events = c.tls_wants_write ? POLLOUT : POLLIN;
    } else if (c.has_output()) {
      events = POLLOUT;
    } else if (c.in_len < kInputCapacity) {
      events = c.tls_wants_write ? POLLOUT : POLLIN;
      // After Redis's tls.c: bytes OpenSSL already holds are served
      // without waiting for the socket.
      if (c.tls_input_waiting()) buffered_ = true;
    }
    owners_[n] = &c;
    fds_[n++] = {c.fd, events, 0};
  }
  return n;
}

bool EventLoop::run() {
  bool asked = false;
  for (;;) {
    int n = build_poll_set();
    // Without a deadline the loop sleeps until something happens.
    int timeout = -1;
    if (deadline_ms_ != 0) {
      timeout = static_cast<int>(std::clamp<int64_t>(deadline_ms_ - monotonic_ms(), 0, INT_MAX));
    }
    if (buffered_) timeout = 0;
    trace("preparing to select()...\n");
    diag_flush();
    if (int out = diag_waiting_fd(); out >= 0) {
      owners_[n] = nullptr;
      fds_[n++] = {out, POLLOUT, 0};
    }
    int ready = poll(fds_.data(), static_cast<nfds_t>(n), timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      report_socket_error("select() failed", errno);
      break;
    }
    trace("select() returned...\n");
    if (stop_ && (fds_[1].revents & POLLIN)) {
      asked = true;
      break;
    }
    int64_t now = monotonic_ms();
    if (accept_resume_ms_ != 0 && now >= accept_resume_ms_) accept_resume_ms_ = 0;
    bool failed = false;
    for (int i : {0, tls_listener_ >= 0 ? first_connection_ - 1 : -1}) {
      if (i < 0 || failed) continue;
      short lrev = fds_[i].revents;
      if (lrev & POLLIN) {
        diag("Listening socket signalled...\n");
        failed = !accept_one(fds_[i].fd, now);
      } else if (lrev & (POLLERR | POLLHUP | POLLNVAL)) {
        report_socket_error("Exception on listening socket", pending_error(fds_[i].fd));
        failed = true;
      }
    }
    if (failed) break;
    for (int i = first_connection_; i < n; ++i) {
      Connection* c = owners_[i];
      if (!c) continue;
      short revents = fds_[i].revents;
      if (!revents && c->tls_input_waiting()) revents = POLLIN;
      if (!revents) continue;
      serve(*c, revents);
      if (c->requested) {
        c->requested = false;
        c->idle_since_ms = now;
      }
    }
    if (deadline_ms_ != 0 && now >= deadline_ms_) {
      release_due_replies(now);
      close_idle_connections(now);
    }
  }
  close_all_connections();
  return asked;
}

bool EventLoop::accept_one(int listener, int64_t now) {
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  int fd = accept4(listener, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
  if (fd < 0) {
    // Another pass will see the next pending connection; only a real failure ends the loop.
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) {
      return true;
    }
    // A shortage of descriptors or memory is the fault of that one connection.
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      shed_pending_connection(listener, errno);
      return true;
    }
    report_socket_error("accept() failed...", errno);
    return false;
  }
  char addr[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &peer.sin_addr, addr, sizeof addr);
  diag("Accepted connection from %s:%d, socket %d.\n", addr, ntohs(peer.sin_port), fd);
  settings_.refresh();
  Connection* c = open_connection_slot(table_, fd, settings_.settings());
  if (!c) {
    diag("dumping connection; too many or can't init processor...\n");
    close(fd);
    return true;
  }
  std::snprintf(c->peer, sizeof c->peer, "%s:%d", addr, ntohs(peer.sin_port));
  c->stats = hooks_ ? hooks_->stats : nullptr;
  c->trace = trace_.get();
  if (!c->bufs->settings.mfk_present) {
    diag("Socket %d has no MFK: %s.\n", fd, settings_.no_mfk_reason());
  }
  c->idle_since_ms = now;
  c->idle_limit_ms = int64_t{settings_.idle_timeout_s()} * 1000;
  if (listener == tls_listener_) {
    c->tls = TlsSession::open(hooks_->tls_context, fd);
    if (!c->tls) {
      diag("Socket %d from %s: TLS could not be set up; closing it.\n", fd, c->peer);
      close_connection_slot(*c);
      return true;
    }
    c->handshake_until_ms =
        now +
        (c->idle_limit_ms != 0 ? std::min(kHandshakeLimitMs, c->idle_limit_ms) : kHandshakeLimitMs);
  }
  if (settings_.inject_rules().count != 0) {
    c->bufs->inject = settings_.inject_rules();
    c->random_state = next_random(random_state_);
  }
  make_non_blocking(fd);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (hooks_ && hooks_->accepted) hooks_->accepted(hooks_, fd, peer);
  return true;
}

// After muduo's Acceptor: the spare descriptor is given up to accept the
// pending connection and close it at once, so the client is told rather than
// left waiting and the listener does not stay readable; then it is taken again.
void EventLoop::shed_pending_connection(int listener, int error) {
  if (spare_fd_ >= 0) close(spare_fd_);
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  int fd = accept4(listener, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
  if (fd >= 0) {
    close(fd);
    char addr[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &peer.sin_addr, addr, sizeof addr);
    char message[96];
    snprintf(message, sizeof message, "Closed the connection from %s:%d at once", addr,
             ntohs(peer.sin_port));
    report_socket_error(message, error);
  } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED) {
    report_socket_error("accept() failed...", errno);
    accept_resume_ms_ = monotonic_ms() + kAcceptRetryMs;
  }
  spare_fd_ = open_spare_descriptor();
}

void EventLoop::serve(Connection& c, short revents) {
  if (revents & (POLLERR | POLLNVAL)) {
    close_connection(c, "General socket error");
    return;
  }
  if (c.handshaking() || (c.tls_wants_write && (revents & POLLOUT))) {
    // A TLS step waits for the socket; POLLHUP comes with nothing to step on
    // but the end of the stream, which the step reads and reports.
    if (read_from_connection(c) == kClose) {
      close_connection(c, "Read error");
      return;
    }
    if (c.handshaking()) return;
  }
  if (revents & (POLLIN | POLLHUP)) {
    trace("Socket %d became readable; handling it.\n", c.fd);
    if (read_from_connection(c) == kClose) {
      close_connection(c, "Read error");
      return;
    }
  } else if (revents & POLLOUT) {
    trace("Socket %d became writable; handling it.\n", c.fd);
  } else {
    return;
  }
  // Send at once what the read produced rather than wait for another pass.
  send_output(c);
}

// Sends what is queued, processing the input again whenever a held reply
// leaves; then closes the connection when an inject rule's close is due.
void EventLoop::send_output(Connection& c) {
  while (c.has_output()) {
    int32_t before = c.out_start;
    int32_t before_len = c.out_len;
    if (write_to_connection(c) == kClose) {
      close_connection(c, "Write error");
      return;
    }
    if (c.resume) {
      c.resume = false;
      process_input_lines(c);
      if (c.overlong) {
        close_connection(c, "Read error");
        return;
      }
    }
    bool progressed = c.out_start != before || c.out_len != before_len;
    if (!progressed) break;
  }
  if (c.closing_now()) {
    diag("Socket %d closed by an inject rule.\n", c.fd);
    close_connection(c, nullptr);
  }
}

void EventLoop::close_connection(Connection& c, const char* message) {
  int err = pending_error(c.fd);
  if (err != 0 && message) report_socket_error(message, err);
  if (hooks_ && hooks_->closed) hooks_->closed(hooks_, c.fd);
  close_connection_slot(c);
}

// Delayed replies leave, in request order, when their time has come.
void EventLoop::release_due_replies(int64_t now) {
  for (Connection& c : table_) {
    if (!c.in_use || c.held_until_ms == 0 || now < c.held_until_ms) continue;
    release_delayed_reply(c);
    send_output(c);
    if (c.in_use && c.requested) {
      c.requested = false;
      c.idle_since_ms = now;
    }
  }
}

// Checked from the loop, as Redis's clientsCron does, with no timer per client.
void EventLoop::close_idle_connections(int64_t now) {
  for (Connection& c : table_) {
    if (c.in_use && c.handshake_until_ms != 0 && now >= c.handshake_until_ms) {
      diag("Socket %d from %s: TLS handshake not completed within %d seconds; closing it.\n", c.fd,
           c.peer, static_cast<int>((c.handshake_until_ms - c.idle_since_ms) / 1000));
      close_connection(c, nullptr);
      continue;
    }
    if (!c.in_use || c.idle_limit_ms == 0 || now - c.idle_since_ms < c.idle_limit_ms) continue;
    diag("Socket %d sent no complete request in %d seconds; closing it.\n", c.fd,
         static_cast<int>(c.idle_limit_ms / 1000));
    close_connection(c, nullptr);
  }
}

void EventLoop::close_all_connections() {
  for (Connection& c : table_) {
    if (!c.in_use) continue;
    if (hooks_ && hooks_->closed) hooks_->closed(hooks_, c.fd);
    close_connection_slot(c);
  }
}

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

int run_server(const char* interface_name, uint16_t port, ServerHooks* hooks,
               const SettingsSource& settings, const StopSignal* stop) {
  diag("Establishing the listener...\n");
  int listener = setup_listener(interface_name, port);
  if (listener < 0) {
    report_socket_error("failed to SetupListener()", errno);
    diag_flush();
    return kListenerFailed;
  }
  int tls_listener = -1;
  if (hooks && hooks->tls_context) {
    tls_listener = setup_listener(interface_name, hooks->tls_port);
    if (tls_listener < 0) {
      report_socket_error("failed to SetupListener() for TLS", errno);
      close(listener);
      diag_flush();
      return kListenerFailed;
    }
    if (hooks->tls_listening) hooks->tls_listening(hooks, tls_listener);
  }
  diag("Waiting for connections...\n");
  if (hooks && hooks->listening) hooks->listening(hooks, listener);
  bool asked;
  {
    // The connection table is large; keep it off the thread's stack.
    auto loop = std::make_unique<EventLoop>(listener, tls_listener, hooks, stop, settings);
    asked = loop->run();
  }
  close(listener);
  if (tls_listener >= 0) close(tls_listener);
  // The trace line's text is fixed: log readers and tests look for it.
  diag("Acceptor restarting...\n");
  if (hooks && hooks->stopped) hooks->stopped(hooks);
  diag_flush();
  return asked ? 0 : kServerFailed;
}

}  // namespace palisim
