#include "app/headless.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "app/banner.h"
#include "app/metrics_endpoint.h"
#include "app/server_thread.h"
#include "config/config.h"
#include "server/command_stats.h"
#include "server/diag.h"
#include "server/tls_context.h"

namespace palisim {

namespace {

const char kNoConfigurationMessage[] =
    "There is no atalla.conf file.  This \nwill work, but will make for a very boring \n"
    "experience as there will be no MFK.\n";

// How long the last lines may wait for a slow reader of the output.
constexpr int kLastLinesWaitMs = 1000;

// As for a bad command line: the start is refused before serving.
constexpr int kBadTlsSetup = 2;

}  // namespace

int run_headless(const ProgramOptions& options) {
  set_diag_quiet(options.quiet);

  const char* path = options.config_path.c_str();
  ServerParameters params;
  ParseReport report;
  bool loaded = load_server_parameters(params, path, &report);
  if (!loaded && options.config_named) {
    // A file asked for by name is meant: serving on the defaults would hide
    // the fault from whoever started the program.
    diag("Palisim002 not started: the configuration file %s.\n",
         report.unreadable ? "could not be read" : "was refused");
    diag_flush_within(kLastLinesWaitMs);
    return kRefusedConfiguration;
  }
  if (!loaded && report.unreadable) diag("%s", kNoConfigurationMessage);
  if (!loaded && !report.unreadable) {
    diag("Serving on the defaults: %s was refused.\n", escape_control_bytes(path).c_str());
  }
  ListenAddress address = listen_address(options, loaded ? &params : nullptr);
  if (options.tls_port >= 0) params.tls.port = static_cast<uint16_t>(options.tls_port);
  // The certificate and key are checked before anything listens.
  TlsContext tls;
  if (params.tls.port != 0) {
    std::string error;
    tls = load_tls_context(params.tls, error);
    if (!tls) {
      diag("%s\n", error.c_str());
      diag_flush_within(kLastLinesWaitMs);
      return kBadTlsSetup;
    }
  }

  // Signals are taken from a descriptor, so the server thread never sees them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  int sfd = signalfd(-1, &signals, SFD_CLOEXEC);
  if (sfd < 0) {
    std::perror("signalfd");
    return 1;
  }

  ServerThread server;
  server.configure(address.interface_name, address.port, path);
  server.set_trace(options.trace.value_or(params.trace ? TraceMode::kMasked : TraceMode::kOff));
  server.set_inject_rules(options.inject);
  if (tls) server.set_tls(std::move(tls), params.tls.port, params.tls.max_connections);
  // Started after the signals are blocked, so its threads never take them.
  MetricsEndpoint metrics;
  std::string metrics_address = !options.metrics.empty() ? options.metrics
                                : loaded                 ? params.metrics
                                                         : "";
  if (!metrics_address.empty()) {
    std::string why;
    if (!metrics.start(metrics_address, server.keep_counters(), why)) {
      diag("Could not serve metrics on %s: %s\n", metrics_address.c_str(), why.c_str());
      diag_flush_within(kLastLinesWaitMs);
      close(sfd);
      return kListenerFailed;
    }
    server.set_metrics_address(metrics.address());
  }
  if (!server.start()) {
    diag("Could not open TCP port\n");
    diag_flush_within(kLastLinesWaitMs);
    close(sfd);
    return 1;
  }
  pollfd fds[2] = {{sfd, POLLIN, 0}, {server.ended_fd(), POLLIN, 0}};
  for (;;) {
    int n = poll(fds, 2, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (fds[1].revents & POLLIN)) break;
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info;
      if (read(sfd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
      if (info.ssi_signo == SIGHUP) {
        server.request_reread();
        continue;
      }
      if (info.ssi_signo != SIGUSR1) break;
      server.stats().print();
      diag_flush();
    }
  }
  int code = server.stop();
  if (code != kListenerFailed) server.stats().print();
  diag_flush_within(kLastLinesWaitMs);
  close(sfd);
  // A server that ended by itself failed (4), so a supervisor restarts it.
  if (code == 0 || code == kListenerFailed) return code;
  return kServerFailed;
}

}  // namespace palisim
