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
#include "server/control_rules.h"
#include "server/handshake_worker.h"
#include "server/listener.h"
#include "server/loop_counters.h"
#include "server/owed_replies.h"
#include "server/server.h"

namespace palisim {

class ControlExchange;
class CounterExchange;
class RequestTrace;
class StopSignal;

// A listening socket, what the connections it accepts travel over, and how
// many of the slots they may hold at once.
struct ListeningSocket {
  int fd = -1;
  const TransportFactory* transport = nullptr;
  int max_connections = kMaxConnections;
  // For the line that refuses a client beyond max_connections: "TLS", and
  // the option that sets the limit.
  const char* kind = "";
  const char* limit_option = "";
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
  bool serve_listener(int listener, short revents, int64_t now_ms);
  void accept_one(int fd, const sockaddr_in& peer, int listener, int64_t now_ms);
  // A connection slot for a transport ready to carry requests, unless all
  // slots or all its listener's share are taken.
  void give_slot(std::unique_ptr<Transport> transport, const sockaddr_in& peer, int listener,
                 int64_t now_ms);
  // Slots for the handshakes completed since the last pass, counts for the others.
  void take_handshakes(int64_t now_ms);
  void serve(Connection& c, short revents, int64_t now_ms);
  // Closes the connection, or hands it to the owed replies, as its verdict says.
  void settle(Connection& c, Verdict verdict);
  void free_slot(const Connection& c);
  void close_connection(Connection& c, CloseCause cause);
  void count_close(const Connection& c, CloseCause cause);
  void note_settings();
  void publish_counters();
  // Copies what the rules used, and the rules new connections get, out to control_.
  void publish_rules();

  std::array<std::unique_ptr<Listener>, kMaxListeners> listeners_;  // the first listener_count_
  std::array<ListeningSocket, kMaxListeners> listening_;            // what each was set up with
  std::array<int, kMaxListeners> slots_held_{};                     // slots its connections hold
  std::array<uint8_t, kMaxConnections> listener_of_{};              // each slot's listener
  int listener_count_ = 0;
  // Handshakes of transports that have one; null when no listener's have.
  std::unique_ptr<HandshakeWorker> handshakes_;
  std::array<HandshakeOutcome, kMaxHandshakes> outcomes_;  // taken from handshakes_ in a pass
  OwedReplies owed_;  // clients that closed, owed only a delayed reply
  ServerHooks* hooks_;
  const StopSignal* stop_;
  SettingsCache settings_;   // what each accepted connection starts with
  int64_t deadline_ms_ = 0;  // the earliest deadline of the listener or a connection; 0 when none
  uint64_t
      random_state_;  // each connection with inject rules starts its generator from the next value
  std::array<Connection, kMaxConnections> table_;
  std::unique_ptr<RequestTrace> trace_;  // null when the trace is off
  RequestObservers observers_;           // told of every request of every connection
  uint64_t connections_accepted_ = 0;    // numbers the connections
  int stop_entry_ = 0;                   // poll entry of the stop signal, after the listeners
  int handshakes_entry_ = -1;            // poll entry of handshakes_, after the stop signal
  int first_connection_ = 0;             // poll entry of the first connection
  bool input_waiting_ = false;           // a transport holds input no poll announces
  CounterExchange* exchange_;            // null: the counters are not published
  ControlExchange* control_;             // the control port's rules come through it; null for none
  ControlRules control_rules_;           // as taken from control_ between passes
  const RandomSeed* seed_;      // every connection's random source starts from it; null for none
  LoopCounters counters_;       // published to exchange_ when a reader asks
  bool settings_read_ = false;  // settings_ has been refreshed once
  int64_t publish_due_ms_ = 0;  // the counters changed: published then; 0 when unchanged
  // Poll entries: the listeners, the stop signal, the handshakes, one per
  // connection open, then standard output while diagnostics wait for room in it.
  std::array<pollfd, kMaxConnections + kMaxListeners + 3> fds_{};
  std::array<Connection*, kMaxConnections + kMaxListeners + 3> owners_{};
};

}  // namespace palisim
