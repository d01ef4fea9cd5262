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

// When the program started, in seconds since the epoch.
double program_start_time_s();

class MetricsEndpoint {
 public:
  MetricsEndpoint();
  ~MetricsEndpoint();
  MetricsEndpoint(const MetricsEndpoint&) = delete;
  MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

  // Listens on ADDRESS:PORT (port 0: a free one) and serves `counters`. On
  // failure returns false with the reason in `error`.
  bool start(const std::string& address, CounterExchange& counters, std::string& error);
  // ADDRESS:PORT as bound, with the port the system chose for 0.
  const std::string& address() const { return address_; }

 private:
  // In this order, so the exposer's threads end before the collector they call goes.
  std::shared_ptr<MetricsCollector> collector_;
  std::unique_ptr<prometheus::Exposer> exposer_;
  std::string address_;
};

}  // namespace palisim
