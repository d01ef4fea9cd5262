// The metrics endpoint: prometheus-cpp's exposer answering GET /metrics on
// threads of its own, with one collectable that reads the server's counters.
#pragma once

#include <memory>
#include <string>

#include "server/counter_exchange.h"

namespace prometheus {
class Exposer;
}

namespace palisim {

class MetricsCollector;

// ADDRESS:PORT as the exposer binds it: a host name resolved to its first
// IPv4 address, an IPv4 address as given, an IPv6 one in brackets where the
// HTTP library was built for IPv6. Otherwise false with the reason.
bool metrics_bind_address(const std::string& address, std::string& bind, std::string& error);

class MetricsEndpoint {
 public:
  MetricsEndpoint();
  ~MetricsEndpoint();
  MetricsEndpoint(const MetricsEndpoint&) = delete;
  MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

  // Listens on `bind` (from metrics_bind_address; port 0: a free one) and
  // serves `counters`; `address` is what the user gave. On failure returns
  // false with the reason in `error`.
  bool start(const std::string& address, const std::string& bind, CounterExchange& counters,
             std::string& error);
  // ADDRESS:PORT as given, with the port the system chose for 0.
  const std::string& address() const { return address_; }

 private:
  // In this order, so the exposer's threads end before the collector they call goes.
  std::shared_ptr<MetricsCollector> collector_;
  std::unique_ptr<prometheus::Exposer> exposer_;
  std::string address_;
  std::string bind_host_;  // the bound address, without the port
  int port_ = 0;           // the bound port
};

}  // namespace palisim
