// The metrics endpoint: cpp-httplib answering GET /metrics on a small pool
// of threads of its own, with prometheus-cpp's text format of one
// collectable that reads the server's counters.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "server/counter_exchange.h"

namespace httplib {
class Server;
}

namespace palisim {

class MetricsCollector;

// The host of ADDRESS:PORT as it is bound: an IPv4 or IPv6 address (without
// brackets), a host name resolved to its first address. Otherwise false with
// the reason.
bool metrics_bind_host(const std::string& address, std::string& host, std::string& error);

class MetricsEndpoint {
 public:
  MetricsEndpoint();
  ~MetricsEndpoint();
  MetricsEndpoint(const MetricsEndpoint&) = delete;
  MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

  // Listens on `host` (from metrics_bind_host) at the port of `address`
  // (0: a free one) and serves `counters`. On failure returns false with the
  // reason in `error`.
  bool start(const std::string& address, const std::string& host, CounterExchange& counters,
             std::string& error);
  // ADDRESS:PORT as given, with the port the system chose for 0.
  const std::string& address() const { return address_; }

 private:
  // In this order, so the server's threads end before the collector they call goes.
  std::shared_ptr<MetricsCollector> collector_;
  std::unique_ptr<httplib::Server> http_;
  std::thread listener_;  // accepts, and hands each connection to the pool
  std::string address_;
  int port_ = 0;  // as bound
};

}  // namespace palisim
