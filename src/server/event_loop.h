// The server's one thread of work: polls the listener, the stop signal and
// every connection, accepts, and tells each connection what is ready.
#pragma once

#include <poll.h>

#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "config/settings_cache.h"
#include "server/connection.h"
#include "server/listener.h"
#include "server/loop_counters.h"
#include "server/server.h"

namespace palisim {

class CounterExchange;
class RequestTrace;
class StopSignal;

// A listening socket and what the connections it accepts travel over.
struct ListeningSocket {
  int fd = -1;
  const TransportFactory* transport = nullptr;
};
inline constexpr int kMaxListeners = 2;

class EventLoop {
 public:
  // At least one and at most kMaxListeners listening sockets.
  EventLoop(std::span<const ListeningSocket> listening, ServerHooks* hooks, const StopSignal* stop,
            SettingsSource source);
  ~EventLoop();

  // Serves until stopped; false when the loop ended without being asked to.
  bool run();

 private:
  int build_poll_set();
  // Accepts from a ready listener; false when accepting failed for good.
  bool serve_listener(Listener& listener, short revents, int64_t now_ms);
  void accept_one(int fd, const sockaddr_in& peer, const TransportFactory& transport,
                  int64_t now_ms);
  void serve(Connection& c, short revents, int64_t now_ms);
  void close_connection(Connection& c, CloseCause cause);
  void count_close(const Connection& c, CloseCause cause);
  void note_settings();
  void publish_counters();

  std::array<std::unique_ptr<Listener>, kMaxListeners> listeners_;  // the first listener_count_
  int listener_count_ = 0;
  ServerHooks* hooks_;
  const StopSignal* stop_;
  SettingsCache settings_;   // what each accepted connection starts with
  int64_t deadline_ms_ = 0;  // the earliest deadline of the listener or a connection; 0 when none
  uint64_t
      random_state_;  // each connection with inject rules starts its generator from the next value
  std::array<Connection, kMaxConnections> table_;
  std::unique_ptr<RequestTrace> trace_;  // null when the trace is off
  int stop_entry_ = 0;                   // poll entry of the stop signal, after the listeners
  int first_connection_ = 0;             // poll entry of the first connection
  bool input_waiting_ = false;           // a transport holds input no poll announces
  CounterExchange* exchange_;            // null: nothing is counted
  LoopCounters counters_;                // published to exchange_ when a reader asks
  bool settings_read_ = false;           // settings_ has been refreshed once
  int64_t publish_due_ms_ = 0;           // the counters changed: published then; 0 when unchanged
  // Poll entries: the listeners, the stop signal, one per connection open,
  // then standard output while diagnostics wait for room in it.
  std::array<pollfd, kMaxConnections + kMaxListeners + 2> fds_{};
  std::array<Connection*, kMaxConnections + kMaxListeners + 2> owners_{};
};

}  // namespace palisim
