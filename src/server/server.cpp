#include "server/server.h"

#include <unistd.h>

#include <cerrno>
#include <memory>

#include "server/diag.h"
#include "server/event_loop.h"
#include "server/listener.h"

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
