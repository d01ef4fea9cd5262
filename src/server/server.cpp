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
#include "server/counter_exchange.h"
#include "server/diag.h"
#include "server/fault_injection.h"
#include "server/request_trace.h"
#include "server/stop_signal.h"

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

// The server's one thread of work: polls the listener, the stop signal and
// every connection, and serves whichever is ready until told to stop.
class EventLoop {
 public:
  EventLoop(int listener, ServerHooks* hooks, const StopSignal* stop, SettingsSource source)
      : listener_(listener),
        hooks_(hooks),
        stop_(stop),
        settings_(source.config_path, source.section_title, source.inject_rules) {
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
  bool accept_one(int64_t now);
  void shed_pending_connection(int error);
  void serve(Connection& c, short revents);
  void send_output(Connection& c);
  void close_connection(Connection& c, const char* message, CloseCause cause);
  void count_close(Connection& c, CloseCause cause);
  void note_settings();
  void publish_counters();
  void release_due_replies(int64_t now);
  void close_idle_connections(int64_t now);
  void close_all_connections();

  int listener_;
  ServerHooks* hooks_;
  const StopSignal* stop_;
  SettingsCache settings_;                  // what each accepted connection starts with
  int spare_fd_ = open_spare_descriptor();  // -1 while the process has none to spare
  int64_t accept_resume_ms_ = 0;            // the listener rests until then; 0 when it does not
  int64_t deadline_ms_ = 0;  // the earliest idle deadline, due reply or end of rest; 0 when none
  // Each connection with inject rules starts its generator from the next value.
  uint64_t random_state_ = static_cast<uint64_t>(monotonic_ms());
  ConnectionTable table_;
  std::unique_ptr<RequestTrace> trace_;                              // null when the trace is off
  CounterExchange* exchange_ = hooks_ ? hooks_->counters : nullptr;  // null: nothing is counted
  LoopCounters counters_;       // published to exchange_ when a reader asks
  bool settings_read_ = false;  // settings_ has been refreshed once
  int first_connection_ = 0;    // index of the first connection's poll entry
  // Poll entries: the listener, the stop signal, a reader of the counters,
  // one per slot in use, then standard output while diagnostics wait for room in it.
  std::array<pollfd, kMaxConnections + 4> fds_{};
  std::array<Connection*, kMaxConnections + 4> owners_{};
};

int EventLoop::build_poll_set() {
  int n = 0;
  fds_[n++] = {listener_, static_cast<short>(accept_resume_ms_ ? 0 : POLLIN), 0};
  if (stop_) fds_[n++] = {stop_->fd(), POLLIN, 0};
  if (exchange_) fds_[n++] = {exchange_->request_fd(), POLLIN, 0};
  first_connection_ = n;
  deadline_ms_ = accept_resume_ms_;
  for (Connection& c : table_) {
    if (!c.in_use) continue;
    if (c.idle_limit_ms != 0) {
      int64_t due = c.idle_since_ms + c.idle_limit_ms;
      if (deadline_ms_ == 0 || due < deadline_ms_) deadline_ms_ = due;
    }
    if (c.held_until_ms != 0 && (deadline_ms_ == 0 || c.held_until_ms < deadline_ms_)) {
      deadline_ms_ = c.held_until_ms;
    }
    short events = 0;
    if (c.has_output()) {
      events = POLLOUT;
    } else if (c.in_len < kInputCapacity) {
      events = POLLIN;
    }
    owners_[n] = &c;
    fds_[n++] = {c.fd, events, 0};
  }
  return n;
}

bool EventLoop::run() {
  bool asked = false;
  if (exchange_) exchange_->set_serving(true);
  for (;;) {
    int n = build_poll_set();
    // Without a deadline the loop sleeps until something happens.
    int timeout = -1;
    if (deadline_ms_ != 0) {
      timeout = static_cast<int>(std::clamp<int64_t>(deadline_ms_ - monotonic_ms(), 0, INT_MAX));
    }
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
    short lrev = fds_[0].revents;
    if (lrev & POLLIN) {
      diag("Listening socket signalled...\n");
      if (!accept_one(now)) break;
    } else if (lrev & (POLLERR | POLLHUP | POLLNVAL)) {
      report_socket_error("Exception on listening socket", pending_error(listener_));
      break;
    }
    if (exchange_ && (fds_[first_connection_ - 1].revents & POLLIN)) publish_counters();
    for (int i = first_connection_; i < n; ++i) {
      Connection* c = owners_[i];
      if (!fds_[i].revents || !c) continue;
      serve(*c, fds_[i].revents);
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
  if (exchange_) {
    publish_counters();
    exchange_->set_serving(false);
  }
  return asked;
}

bool EventLoop::accept_one(int64_t now) {
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  int fd = accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
  if (fd < 0) {
    // Another pass will see the next pending connection; only a real failure ends the loop.
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) {
      return true;
    }
    // A shortage of descriptors or memory is the fault of that one connection.
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      shed_pending_connection(errno);
      return true;
    }
    report_socket_error("accept() failed...", errno);
    return false;
  }
  char addr[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &peer.sin_addr, addr, sizeof addr);
  diag("Accepted connection from %s:%d, socket %d.\n", addr, ntohs(peer.sin_port), fd);
  settings_.refresh();
  if (exchange_) {
    ++counters_.accepted;
    note_settings();
  }
  Connection* c = open_connection_slot(table_, fd, settings_.settings());
  if (!c) {
    diag("dumping connection; too many or can't init processor...\n");
    close(fd);
    if (exchange_) ++counters_.closed[kShedAllSlotsInUse];
    return true;
  }
  if (exchange_) {
    c->counters = &counters_;
    ++counters_.open;
  }
  std::snprintf(c->peer, sizeof c->peer, "%s:%d", addr, ntohs(peer.sin_port));
  c->stats = hooks_ ? hooks_->stats : nullptr;
  c->trace = trace_.get();
  if (!c->bufs->settings.mfk_present) {
    diag("Socket %d has no MFK; commands that need one will fail.\n", fd);
  }
  c->idle_since_ms = now;
  c->idle_limit_ms = int64_t{settings_.idle_timeout_s()} * 1000;
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
void EventLoop::shed_pending_connection(int error) {
  if (spare_fd_ >= 0) close(spare_fd_);
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  int fd = accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
  if (fd >= 0) {
    close(fd);
    if (exchange_) {
      ++counters_.accepted;
      ++counters_.closed[kShedNoDescriptors];
    }
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
    close_connection(c, "General socket error", kClosedOnError);
    return;
  }
  if (revents & (POLLIN | POLLHUP)) {
    trace("Socket %d became readable; handling it.\n", c.fd);
    if (read_from_connection(c) == kClose) {
      close_connection(c, "Read error", c.overlong ? kClosedOverlongLine : kClosedByClient);
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
      close_connection(c, "Write error", kClosedOnError);
      return;
    }
    if (c.resume) {
      c.resume = false;
      process_input_lines(c);
      if (c.overlong) {
        close_connection(c, "Read error", kClosedOverlongLine);
        return;
      }
    }
    bool progressed = c.out_start != before || c.out_len != before_len;
    if (!progressed) break;
  }
  if (c.closing_now()) {
    diag("Socket %d closed by an inject rule.\n", c.fd);
    close_connection(c, nullptr, kClosedByInjectRule);
  }
}

void EventLoop::close_connection(Connection& c, const char* message, CloseCause cause) {
  int err = pending_error(c.fd);
  if (err != 0 && message) report_socket_error(message, err);
  // A client that ended with an error (a reset) did not simply close.
  count_close(c, err != 0 && cause == kClosedByClient ? kClosedOnError : cause);
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
    if (!c.in_use || c.idle_limit_ms == 0 || now - c.idle_since_ms < c.idle_limit_ms) continue;
    diag("Socket %d sent no complete request in %d seconds; closing it.\n", c.fd,
         static_cast<int>(c.idle_limit_ms / 1000));
    close_connection(c, nullptr, kClosedIdle);
  }
}

void EventLoop::close_all_connections() {
  for (Connection& c : table_) {
    if (!c.in_use) continue;
    count_close(c, kClosedAtStop);
    if (hooks_ && hooks_->closed) hooks_->closed(hooks_, c.fd);
    close_connection_slot(c);
  }
}

void EventLoop::count_close(Connection& c, CloseCause cause) {
  if (!exchange_) return;
  ++counters_.closed[cause];
  --counters_.open;
  counters_.key_cache_hits += c.bufs->keys.hits();
  counters_.key_cache_misses += c.bufs->keys.misses();
}

// What the file gave the connections accepted last.
void EventLoop::note_settings() {
  settings_read_ = true;
  counters_.config_loaded = settings_.loaded();
  counters_.mfk_check = {'n', 'o', 'n', 'e'};
  const Settings& s = settings_.settings();
  if (s.mfk_present) key_check_value(s.mfk.data(), s.mfk_len, counters_.mfk_check, false);
}

// The counters with the key caches of open connections added.
void EventLoop::publish_counters() {
  if (!settings_read_) {
    settings_.refresh();
    note_settings();
  }
  LoopCounters now = counters_;
  for (Connection& c : table_) {
    if (!c.in_use) continue;
    now.key_cache_hits += c.bufs->keys.hits();
    now.key_cache_misses += c.bufs->keys.misses();
  }
  exchange_->publish(now);
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
  diag("Waiting for connections...\n");
  if (hooks && hooks->listening) hooks->listening(hooks, listener);
  bool asked;
  {
    // The connection table is large; keep it off the thread's stack.
    auto loop = std::make_unique<EventLoop>(listener, hooks, stop, settings);
    asked = loop->run();
  }
  close(listener);
  // The trace line's text is fixed: log readers and tests look for it.
  diag("Acceptor restarting...\n");
  if (hooks && hooks->stopped) hooks->stopped(hooks);
  diag_flush();
  return asked ? 0 : kServerFailed;
}

}  // namespace palisim
