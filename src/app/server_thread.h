// The one server thread of the program: runs the server with hooks that
// print the banner, count connections and requests, and stops it on request.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/worker_thread.h"
#include "config/inject_rules.h"
#include "crypto/random_source.h"
#include "server/command_stats.h"
#include "server/counter_exchange.h"
#include "server/server.h"
#include "server/stop_signal.h"
#include "server/tls_context.h"
#include "server/trace_mode.h"

namespace palisim {

class ServerThread : public WorkerThread {
 public:
  ServerThread();

  // Set before start(): where to listen and where connections load settings.
  void configure(const char* interface_name, uint16_t port, const char* config_path);
  // Set before start(); off unless set.
  void set_trace(TraceMode trace) { hooks_.trace = trace; }
  // Set before start(); every connection applies them before the file's.
  void set_inject_rules(const InjectRules& rules) { inject_rules_ = rules; }
  // Set before start(): a TLS listener on port beside the plain one, whose
  // connections hold at most max_connections slots.
  void set_tls(TlsContext context, uint16_t port, int max_connections);
  // Before start(): the server keeps counters for a metrics endpoint, which
  // reads them through the exchange returned.
  CounterExchange& keep_counters();
  // Before start(): the metrics endpoint's address, for the start-up line.
  void set_metrics_address(const std::string& address) { metrics_address_ = address; }
  // Before start(): every connection's random source starts from the seed.
  void set_random_seed(const RandomSeed& seed) {
    seed_ = seed;
    hooks_.seed = &seed_;
  }
  // Before start(): the control port's rules and journal, and its address
  // for the start-up line. Both must outlive the server.
  void set_control(ControlExchange* rules, RequestObserver* journal, const std::string& address) {
    hooks_.control = rules;
    hooks_.journal = journal;
    control_address_ = address;
  }

  int run() override;
  void release() override;

  // Has the next accepted connection read the configuration file afresh,
  // and says so in one line naming the cause.
  void request_reread(const char* cause = "SIGHUP");
  // Asks the server to end: safe at any moment, also before it listens.
  void request_stop() { stop_.signal(); }
  // Stops the server and waits until it has ended; returns its result.
  int stop();

  int connection_count() const { return connections_.load(std::memory_order_acquire); }
  // Requests of every run of this thread, by command.
  const CommandStats& stats() const { return stats_; }
  uint16_t port() const { return port_; }
  // Readable once the thread has ended (for a poll of the owner's own).
  int ended_fd() const { return ended_.fd(); }

 private:
  static void on_listening(ServerHooks* hooks, int fd);
  static void on_tls_listening(ServerHooks* hooks, int fd);
  static void on_accepted(ServerHooks* hooks, int fd, const sockaddr_in& peer);
  static void on_closed(ServerHooks* hooks, int fd);

  // Set by configure(); the constructor gives every interface, the default
  // port and the default file.
  char interface_name_[128];
  uint16_t port_;
  char config_path_[1024];
  InjectRules inject_rules_;         // --inject rules; none unless set
  std::atomic<bool> reread_{false};  // set on SIGHUP, cleared by the next accept
  std::string metrics_address_;      // of the metrics endpoint; empty when off
  std::string control_address_;      // of the control port; empty when off
  RandomSeed seed_;                  // empty: unseeded
  // The copy of the server's counters; only with metrics on.
  std::unique_ptr<CounterExchange> counters_;
  TlsContext tls_;                   // the TLS listener's context; null without one
  int tls_listening_fd_ = -1;        // set by its hook, on the server thread
  std::atomic<int> connections_{0};  // connected clients
  CommandStats stats_;               // counted by the server, kept across runs
  ServerHooks hooks_;
  StopSignal stop_;
  StopSignal ended_;
};

}  // namespace palisim
