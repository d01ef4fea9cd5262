#include "app/metrics_endpoint.h"

#include <chrono>
#include <exception>

#include <prometheus/exposer.h>

#include "app/metrics_collector.h"

namespace palisim {

namespace {

double seconds_since_epoch() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

// Taken when the program starts, before main.
const double kStartTime = seconds_since_epoch();

// One thread answers scrapes: a scrape is a copy of a few kilobytes.
constexpr size_t kExposerThreads = 1;

}  // namespace

double program_start_time_s() {
  return kStartTime;
}

MetricsEndpoint::MetricsEndpoint() = default;

MetricsEndpoint::~MetricsEndpoint() = default;

bool MetricsEndpoint::start(const std::string& address, CounterExchange& counters,
                            std::string& error) {
  try {
    exposer_ = std::make_unique<prometheus::Exposer>(address, kExposerThreads);
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  collector_ = std::make_shared<MetricsCollector>(counters, kStartTime);
  exposer_->RegisterCollectable(collector_);
  std::vector<int> ports = exposer_->GetListeningPorts();
  address_ =
      address.substr(0, address.rfind(':') + 1) + std::to_string(ports.empty() ? 0 : ports.front());
  return true;
}

}  // namespace palisim
