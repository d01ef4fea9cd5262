// palisimstress: sends one command repeatedly over one connection and prints
// the amortised time per command and the rate; with any load option, drives
// many connections and prints counts and latency percentiles instead.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <optional>

#include "stress/command_line.h"
#include "stress/connection.h"
#include "stress/load_run.h"
#include "stress/pacing.h"
#include "stress/report.h"
#include "stress/run_parameters.h"

using namespace palisim::stress;

namespace {

// Status 1 when no connection opened, a count run was not answered in
// full, or --check saw a bad reply.
int run_load_mode(const RunParameters& params) {
  RequestMix mix;
  if (params.load.mix_file) {
    if (!mix.load_file(params.load.mix_file)) return 1;
  } else {
    mix.set_single({params.command.data(), params.command_len});
  }
  print_load_start(params);
  std::optional<in_addr> address = resolve_host(params.host);
  if (!address) {
    std::fputs("failed to resolve address\n", stdout);
    return 1;
  }
  TlsContext tls;
  if (params.tls.on && !tls.load(params.tls)) return 1;
  LoadFigures figures = run_load(params, mix, *address, params.tls.on ? &tls : nullptr);
  if (!figures.tls_failure.empty()) {
    std::fprintf(stderr, "palisimstress: TLS: handshake failed: %s\n", figures.tls_failure.c_str());
  }
  print_load_figures(params, figures, mix);
  // As wrk2 does: a server (or client) that cannot keep up shows in the
  // latencies, and this says so in words.
  double rate = achieved_rate(figures);
  if (params.load.rate > 0 && rate < params.load.rate * 0.95) {
    std::fprintf(stderr,
                 "palisimstress: warning: %.3f replies per sec, %.1f %% short of --rate %g\n", rate,
                 100.0 * (1.0 - rate / params.load.rate), params.load.rate);
  }
  if (figures.timed_out > 0) {
    std::fprintf(stderr, "palisimstress: connections without a reply within %g seconds: %u\n",
                 params.timeout_s, figures.timed_out);
  }
  bool bad = params.load.check && figures.errors + figures.mismatched > 0;
  return figures.opened == 0 || !figures.completed || figures.timed_out > 0 || bad ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Static: the command buffer is too large for the stack.
  static RunParameters params;
  ParseResult parsed = parse_command_line(argc, argv, params);
  if (!parsed.run) return parsed.exit_status;
  // OpenSSL writes to the socket without MSG_NOSIGNAL.
  if (params.tls.on) signal(SIGPIPE, SIG_IGN);
  if (params.load.used) return run_load_mode(params);
  print_start_line(params);

  std::optional<in_addr> address = resolve_host(params.host);
  if (!address) {
    std::fputs("failed to resolve address\n", stdout);
    return 1;
  }
  auto timeout_ns = static_cast<int64_t>(params.timeout_s * kNsPerSecond);
  ConnectResult conn = open_connection(*address, static_cast<uint16_t>(params.port),
                                       static_cast<int>(timeout_ns / 1'000'000));
  if (conn.failure == ConnectFailure::kSocket) {
    std::fputs("failed to get a socketopen connection\n", stdout);
    return 1;
  }
  if (conn.failure == ConnectFailure::kConnect) {
    std::fputs("failed to open connection\n", stdout);
    return 1;
  }
  if (conn.failure == ConnectFailure::kTimedOut) {
    std::printf("failed to open connection: no answer within %g seconds\n", params.timeout_s);
    return 1;
  }

  Link link(conn.fd);
  TlsContext tls;
  if (params.tls.on &&
      (!tls.load(params.tls) || !link.start_tls(tls, params.host, params.timeout_s))) {
    close_gracefully(conn.fd);
    return 1;
  }

  auto count = static_cast<uint32_t>(params.count);
  const char* command = params.command.data();
  auto start = std::chrono::steady_clock::now();
  RunOutcome outcome = params.algorithm == Algorithm::kPipelined
                           ? run_pipelined(link, command, params.command_len, count, timeout_ns)
                           : run_ping_pong(link, command, params.command_len, count, timeout_ns);
  auto end = std::chrono::steady_clock::now();

  int status = 0;
  if (outcome.stop == RunStop::kCompleted) {
    print_figures(end - start, count);
  } else {
    print_stop(outcome, count, params.timeout_s);
    status = 1;
  }
  link.notify_close();
  close_gracefully(conn.fd);
  return status;
}
