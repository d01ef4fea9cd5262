#include "app/headless.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/banner.h"
#include "app/control_server.h"
#include "app/metrics_endpoint.h"
#include "app/server_thread.h"
#include "app/start_plan.h"
#include "config/config.h"
#include "config/environment_mfk.h"
#include "server/command_stats.h"
#include "server/diag.h"

namespace palisim {

namespace {

const char kNoConfigurationMessage[] =
    "There is no atalla.conf file.  This \nwill work, but will make for a very boring \n"
    "experience as there will be no MFK.\n";

// How long the last lines may wait for a slow reader of the output.
constexpr int kLastLinesWaitMs = 1000;

// As for a bad command line: the start is refused before serving.
constexpr int kRefusedStart = 2;

}  // namespace

int run_headless(const ProgramOptions& options) {
  set_diag_quiet(options.quiet);

  const char* path = options.config_path.c_str();
  StartPlan plan;
  bool ready = prepare_start(options, plan);
  if (!plan.file_loaded && options.config_named) {
    // A file asked for by name is meant: serving on the defaults would hide
    // the fault from whoever started the program.
    diag("Palisim002 not started: the configuration file %s.\n",
         plan.report.unreadable ? "could not be read" : "was refused");
    diag_flush_within(kLastLinesWaitMs);
    return kRefusedConfiguration;
  }
  if (!plan.file_loaded && plan.report.unreadable && !environment_mfk_given()) {
    diag("%s", kNoConfigurationMessage);
  }
  if (!plan.file_loaded && !plan.report.unreadable) {
    diag("Serving on the defaults: %s was refused.\n", escape_control_bytes(path).c_str());
  }
  if (!ready) {
    diag("%s\n", plan.refusal.c_str());
    diag_flush_within(kLastLinesWaitMs);
    return kRefusedStart;
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
  server.configure(plan.address.interface_name, plan.address.port, path);
  server.set_trace(plan.trace);
  if (!plan.seed.empty()) server.set_random_seed(plan.seed);
  server.set_inject_rules(options.inject);
  if (plan.tls) {
    server.set_tls(std::move(plan.tls), static_cast<uint16_t>(plan.tls_port),
                   plan.params.tls.max_connections);
  }
  // Started after the signals are blocked, so its threads never take them.
  MetricsEndpoint metrics;
  if (!plan.metrics.empty()) {
    std::string why;
    if (!metrics.start(plan.metrics, plan.metrics_host, server.keep_counters(), why)) {
      diag("Could not serve metrics on %s: %s\n", plan.metrics.c_str(), why.c_str());
      diag_flush_within(kLastLinesWaitMs);
      close(sfd);
      return kListenerFailed;
    }
    server.set_metrics_address(metrics.address());
  }
  // Declared after the server, so they end before it.
  ControlExchange control_rules;
  RequestJournal journal(plan.control.empty() ? 0 : static_cast<size_t>(plan.journal_size),
                         plan.trace != TraceMode::kFull);
  std::unique_ptr<ControlServer> control;
  if (!plan.control.empty()) {
    control = std::make_unique<ControlServer>(
        ControlTargets{control_rules, journal, server.keep_counters(), server, plan.control_token});
    std::string why;
    if (!control->start(plan.control, why)) {
      diag("Could not serve control on %s: %s\n", plan.control.c_str(), why.c_str());
      diag_flush_within(kLastLinesWaitMs);
      close(sfd);
      return kListenerFailed;
    }
    server.set_control(&control_rules, journal.capacity() != 0 ? &journal : nullptr,
                       control->address());
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
