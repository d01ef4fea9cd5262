#include "server/server.h"

#include <unistd.h>

#include <cerrno>
#include <memory>

#include "server/diag.h"
#include "server/event_loop.h"
#include "server/listener.h"
#include "server/plain_transport.h"
#include "server/tls_transport.h"

namespace palisim {

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
    const PlainTransportFactory plain;
    const TlsTransportFactory tls(hooks ? hooks->tls_context : nullptr);
    ListeningSocket listening[kMaxListeners] = {
        {listener, &plain},
        {tls_listener, &tls, hooks ? hooks->tls_max_connections : kDefaultTlsMaxConnections, "TLS",
         "tls_max_connections"}};
    // The connection table is large; keep it off the thread's stack.
    auto loop = std::make_unique<EventLoop>(
        std::span<const ListeningSocket>(listening, tls_listener >= 0 ? 2 : 1), hooks, stop,
        settings);
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
