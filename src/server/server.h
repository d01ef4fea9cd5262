// Running the server: the listener and the poll loop that serves up to 64
// clients on one thread.
#pragma once

#include <netinet/in.h>
#include <openssl/types.h>

#include <cstdint>

#include "config/tls_parameters.h"
#include "server/settings_source.h"
#include "server/trace_mode.h"

namespace palisim {

class CommandStats;
class ControlExchange;
class CounterExchange;
class RequestObserver;
struct RandomSeed;
class StopSignal;

// Told of the server's progress by the owner of the server; every member is
// optional and the functions run on the server thread.
struct ServerHooks {
  void (*listening)(ServerHooks* hooks, int listening_fd) = nullptr;
  void (*accepted)(ServerHooks* hooks, int fd, const sockaddr_in& peer) = nullptr;
  void (*closed)(ServerHooks* hooks, int fd) = nullptr;
  void (*stopped)(ServerHooks* hooks) = nullptr;
  void* owner = nullptr;                // for the owner's use inside the hooks
  CommandStats* stats = nullptr;        // counts every request when set; outlives the run
  TraceMode trace = TraceMode::kOff;    // the request trace
  CounterExchange* counters = nullptr;  // the loop counts for monitoring when set; outlives the run
  // When set, a second listener on tls_port (0 for a free one) whose
  // connections speak TLS with this context; the same loop serves both.
  SSL_CTX* tls_context = nullptr;
  uint16_t tls_port = 0;
  int tls_max_connections = kDefaultTlsMaxConnections;  // slots TLS connections may hold at once
  void (*tls_listening)(ServerHooks* hooks, int tls_listening_fd) = nullptr;  // before listening
  // The control port: its inject rules come through `control`, and `journal`
  // is told of every request; each outlives the run, null for none.
  ControlExchange* control = nullptr;
  RequestObserver* journal = nullptr;
  // Every connection's random source starts from it; null or empty: unseeded.
  const RandomSeed* seed = nullptr;
};

inline constexpr int kListenerFailed = 3;
inline constexpr int kServerFailed = 4;

// Listens on the interface and port and serves until `stop` is signalled or
// the loop fails; then closes every connection. Each accepted connection
// loads its settings from `settings`. Returns 0 after a stop, 3 when the
// listener could not be set up, 4 when the loop ended without being asked to.
int run_server(const char* interface_name, uint16_t port, ServerHooks* hooks,
               const SettingsSource& settings, const StopSignal* stop);

}  // namespace palisim
