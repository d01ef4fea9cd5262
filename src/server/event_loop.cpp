#include "server/event_loop.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>

#include "crypto/check_value.h"
#include "server/command_stats.h"
#include "server/control_exchange.h"
#include "server/counter_exchange.h"
#include "server/diag.h"
#include "server/fault_injection.h"
#include "server/request_journal.h"
#include "server/request_trace.h"
#include "server/stop_signal.h"

namespace palisim {

namespace {

int64_t monotonic_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// What a connection counted itself: its key cache's use and its bytes.
void add_connection_counts(const Connection& c, LoopCounters& to) {
  to.key_cache_hits += c.buffers()->keys.hits();
  to.key_cache_misses += c.buffers()->keys.misses();
  to.bytes_received += c.bytes_received();
  to.bytes_sent += c.bytes_sent();
}

void take_earlier(int64_t& deadline, int64_t due) {
  if (due != 0 && (deadline == 0 || due < deadline)) deadline = due;
}

// "address:port", as the lines and the records name a client.
void name_peer(const sockaddr_in& peer, char (&name)[24]) {
  char addr[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &peer.sin_addr, addr, sizeof addr);
  std::snprintf(name, sizeof name, "%s:%d", addr, ntohs(peer.sin_port));
}

}  // namespace

EventLoop::EventLoop(std::span<const ListeningSocket> listening, ServerHooks* hooks,
                     const StopSignal* stop, SettingsSource source)
    : hooks_(hooks),
      stop_(stop),
      settings_(source.config_path, source.section_title, source.inject_rules, source.reread),
      random_state_(static_cast<uint64_t>(monotonic_ms())),
      exchange_(hooks ? hooks->counters : nullptr),
      control_(hooks ? hooks->control : nullptr),
      seed_(hooks && hooks->seed && !hooks->seed->empty() ? hooks->seed : nullptr) {
  for (const ListeningSocket& l :
       listening.first(std::min<size_t>(listening.size(), kMaxListeners))) {
    const auto i = static_cast<size_t>(listener_count_++);
    listeners_[i] = std::make_unique<Listener>(l.fd, *l.transport);
    listening_[i] = l;
    if (l.transport->handshakes() && !handshakes_) {
      handshakes_ = std::make_unique<HandshakeWorker>();
    }
  }
  if (hooks_ && hooks_->trace != TraceMode::kOff) {
    trace_ = std::make_unique<RequestTrace>(hooks_->trace);
    observers_.add(trace_.get(), RequestTrace::kNeeds);
  }
  // The metrics' handler-time histogram is the statistics'.
  if (hooks_) observers_.add(hooks_->stats, {.time = exchange_ != nullptr});
  if (hooks_) observers_.add(hooks_->journal, kJournalNeeds);
}

EventLoop::~EventLoop() = default;

int EventLoop::build_poll_set() {
  int n = 0;
  deadline_ms_ = 0;
  for (int i = 0; i < listener_count_; ++i) {
    const Listener& l = *listeners_[static_cast<size_t>(i)];
    // While the handshakes in progress are at their bound, clients wait in
    // the listener's queue; a handshake that ends wakes the loop.
    bool waits = handshakes_ && handshakes_->full() && l.transport().handshakes();
    fds_[n++] = {l.fd(), waits ? short{0} : l.poll_events(), 0};
    take_earlier(deadline_ms_, l.deadline_ms());
  }
  stop_entry_ = n;
  if (stop_) fds_[n++] = {stop_->fd(), POLLIN, 0};
  handshakes_entry_ = -1;
  if (handshakes_) {
    handshakes_entry_ = n;
    fds_[n++] = {handshakes_->ready_fd(), POLLIN, 0};
  }
  take_earlier(deadline_ms_, owed_.deadline_ms());
  first_connection_ = n;
  input_waiting_ = false;
  for (Connection& c : table_) {
    if (!c.in_use()) continue;
    take_earlier(deadline_ms_, c.deadline_ms());
    input_waiting_ = input_waiting_ || c.input_waiting();
    owners_[n] = &c;
    fds_[n++] = {c.fd(), c.poll_events(), 0};
  }
  return n;
}

bool EventLoop::run() {
  bool asked = false;
  if (exchange_) publish_counters();
  if (control_) publish_rules();
  for (;;) {
    int n = build_poll_set();
    // Without a deadline the loop sleeps until something happens.
    int64_t wake_ms = deadline_ms_;
    take_earlier(wake_ms, publish_due_ms_);
    int timeout = -1;
    if (wake_ms != 0) {
      timeout = static_cast<int>(std::clamp<int64_t>(wake_ms - monotonic_ms(), 0, INT_MAX));
    }
    // After Redis's tls.c: input a transport already holds is served without
    // sleeping in poll.
    if (input_waiting_) timeout = 0;
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
    if (stop_ && (fds_[static_cast<size_t>(stop_entry_)].revents & POLLIN)) {
      asked = true;
      break;
    }
    // Between passes: the control port's changes apply from the next request.
    if (control_) control_->take(control_rules_);
    int64_t now = monotonic_ms();
    bool listening = true;
    for (int i = 0; i < listener_count_ && listening; ++i)
      listening = serve_listener(i, fds_[static_cast<size_t>(i)].revents, now);
    if (!listening) break;
    if (handshakes_entry_ >= 0 && (fds_[static_cast<size_t>(handshakes_entry_)].revents & POLLIN)) {
      take_handshakes(now);
    }
    for (int i = first_connection_; i < n; ++i) {
      Connection* c = owners_[i];
      if (!c) continue;
      short revents = fds_[i].revents;
      if (!revents && c->input_waiting()) revents = POLLIN;
      if (revents) serve(*c, revents, now);
    }
    bool deadline_due = deadline_ms_ != 0 && now >= deadline_ms_;
    if (deadline_due) {
      for (Connection& c : table_)
        if (c.in_use()) settle(c, c.on_deadline(now));
      counters_.bytes_sent += owed_.on_deadline(now);
    }
    if (control_ && control_rules_.used) publish_rules();
    if (exchange_) {
      // A pass that served something may have changed the counters; a pass
      // woken only to publish did not.
      if ((ready > 0 || deadline_due) && publish_due_ms_ == 0) {
        publish_due_ms_ = now + kPublishEveryMs;
      }
      if (publish_due_ms_ != 0 && now >= publish_due_ms_) {
        publish_counters();
        publish_due_ms_ = 0;
      }
    }
  }
  for (Connection& c : table_) {
    if (c.in_use()) {
      count_close(c, CloseCause::kStopped);
      if (hooks_ && hooks_->closed) hooks_->closed(hooks_, c.fd());
      c.close(CloseCause::kStopped);
    }
  }
  if (handshakes_) {
    const auto in_flight = static_cast<uint64_t>(handshakes_->in_flight());
    counters_.closed[static_cast<size_t>(CloseCause::kStopped)] += in_flight;
    counters_.open -= in_flight;
    handshakes_.reset();
  }
  if (exchange_) publish_counters();
  return asked;
}

bool EventLoop::serve_listener(int index, short revents, int64_t now_ms) {
  Listener& listener = *listeners_[static_cast<size_t>(index)];
  listener.on_deadline(now_ms);
  if (revents & POLLIN) {
    diag("Listening socket signalled...\n");
    int fd = -1;
    sockaddr_in peer{};
    Listener::Outcome got = listener.accept(now_ms, fd, peer);
    if (got == Listener::Outcome::kFailed) return false;
    if (got == Listener::Outcome::kAccepted) accept_one(fd, peer, index, now_ms);
  } else if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
    report_socket_error("Exception on listening socket", pending_error(listener.fd()));
    return false;
  }
  return true;
}

void EventLoop::accept_one(int fd, const sockaddr_in& peer, int listener, int64_t now_ms) {
  settings_.refresh();
  settings_read_ = true;
  ++counters_.accepted;
  ++counters_.open;
  prepare_accepted_socket(fd);
  char name[24];
  name_peer(peer, name);
  const TransportFactory& factory = *listening_[static_cast<size_t>(listener)].transport;
  std::unique_ptr<Transport> transport =
      factory.open({fd, name, now_ms, int64_t{settings_.idle_timeout_s()} * 1000});
  if (transport->handshake_done()) {
    give_slot(std::move(transport), peer, listener, now_ms);
  } else {
    handshakes_->start(std::move(transport), peer, listener);
  }
}

void EventLoop::give_slot(std::unique_ptr<Transport> transport, const sockaddr_in& peer,
                          int listener, int64_t now_ms) {
  const int fd = transport->fd();
  char name[24];
  name_peer(peer, name);
  const ListeningSocket& from = listening_[static_cast<size_t>(listener)];
  int& held = slots_held_[static_cast<size_t>(listener)];
  Connection* c = nullptr;
  for (Connection& slot : table_) {
    if (!slot.in_use()) {
      c = &slot;
      break;
    }
  }
  size_t refused = 0;
  if (!c) {
    diag("dumping connection; too many or can't init processor...\n");
    refused = kShedAllSlotsInUse;
  } else if (held >= from.max_connections) {
    // The other slots stay for the clients of the other listeners.
    diag("Socket %d from %s: %d %s connections are open, as many as %s allows; closing it.\n", fd,
         name, held, from.kind, from.limit_option);
    refused = kShedShareFull;
  }
  if (refused != 0) {
    transport->close();
    --counters_.open;
    ++counters_.closed[refused];
    return;
  }
  ConnectionSetup setup{name, &observers_};
  setup.now_ms = now_ms;
  setup.idle_limit_ms = int64_t{settings_.idle_timeout_s()} * 1000;
  setup.id = ++connections_accepted_;
  if (settings_.inject_rules().count != 0) setup.inject = &settings_.inject_rules();
  // The control port's rules draw from it too, so every connection gets one.
  setup.random_state = next_random(random_state_);
  setup.seed = seed_;
  if (control_) setup.control = &control_rules_;
  c->open(std::move(transport), settings_.settings(), setup);
  listener_of_[static_cast<size_t>(c - table_.data())] = static_cast<uint8_t>(listener);
  ++held;
  // The file's rules may have changed with the settings.
  if (control_) publish_rules();
  if (!settings_.settings().mfk_present) {
    diag("Socket %d has no MFK: %s.\n", fd, settings_.no_mfk_reason());
  }
  if (hooks_ && hooks_->accepted) hooks_->accepted(hooks_, fd, peer);
}

void EventLoop::take_handshakes(int64_t now_ms) {
  const size_t n = handshakes_->take(outcomes_);
  for (size_t i = 0; i < n; ++i) {
    HandshakeOutcome& done = outcomes_[i];
    if (done.transport) {
      give_slot(std::move(done.transport), done.peer, done.listener, now_ms);
    } else {
      --counters_.open;
      ++counters_.closed[static_cast<size_t>(done.cause)];
    }
  }
}

void EventLoop::serve(Connection& c, short revents, int64_t now_ms) {
  Verdict verdict;
  if (revents & (POLLERR | POLLNVAL)) {
    close_connection(c, CloseCause::kSocketError);
    return;
  }
  if (revents & (POLLIN | POLLHUP)) {
    trace("Socket %d became readable; handling it.\n", c.fd());
    verdict = c.on_readable(now_ms);
  } else if (revents & POLLOUT) {
    trace("Socket %d became writable; handling it.\n", c.fd());
    verdict = c.on_writable(now_ms);
  } else {
    return;
  }
  settle(c, verdict);
}

void EventLoop::settle(Connection& c, Verdict verdict) {
  if (verdict == Verdict::kClose) {
    close_connection(c, c.close_cause());
    return;
  }
  if (!c.owes_only_delayed_replies()) return;
  // The client did close: counted as such now, its reply leaves later.
  count_close(c, CloseCause::kPeerClosed);
  if (hooks_ && hooks_->closed) hooks_->closed(hooks_, c.fd());
  free_slot(c);
  c.hand_over(owed_);
}

void EventLoop::free_slot(const Connection& c) {
  --slots_held_[listener_of_[static_cast<size_t>(&c - table_.data())]];
}

void EventLoop::close_connection(Connection& c, CloseCause cause) {
  int err = pending_error(c.fd());
  const char* message = close_report_message(cause);
  if (err != 0 && message) report_socket_error(message, err);
  count_close(c, cause);
  if (hooks_ && hooks_->closed) hooks_->closed(hooks_, c.fd());
  free_slot(c);
  c.close(cause);
}

void EventLoop::count_close(const Connection& c, CloseCause cause) {
  ++counters_.closed[static_cast<size_t>(cause)];
  --counters_.open;
  add_connection_counts(c, counters_);
}

void EventLoop::publish_rules() {
  control_->publish(control_rules_, settings_.inject_rules(), settings_.command_line_rule_count());
  control_rules_.used = false;
}

// What the file gave the connections accepted last.
void EventLoop::note_settings() {
  counters_.config_loaded = settings_.loaded();
  counters_.mfk_check = {'n', 'o', 'n', 'e'};
  const Settings& s = settings_.settings();
  if (s.mfk_present) key_check_value(s.mfk.data(), s.mfk_len, counters_.mfk_check, false);
}

// The counters, with the key caches and bytes of open connections and the
// listeners' sheds added.
void EventLoop::publish_counters() {
  if (!settings_read_) {
    settings_.refresh();
    settings_read_ = true;
  }
  note_settings();
  LoopCounters now = counters_;
  for (const Connection& c : table_) {
    if (c.in_use()) add_connection_counts(c, now);
  }
  uint64_t shed = 0;
  for (int i = 0; i < listener_count_; ++i)
    shed += listeners_[static_cast<size_t>(i)]->shed();
  now.accepted += shed;
  now.closed[kShedNoDescriptors] = shed;
  exchange_->publish(now);
}

}  // namespace palisim
