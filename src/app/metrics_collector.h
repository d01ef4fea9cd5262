// What a scrape of the metrics endpoint reads: the copy of the serving loop's
// counters it published last, and the process's own figures
// (diagnostic lines dropped, configuration parses, version, start time).
#pragma once

#include <vector>

#include <prometheus/collectable.h>
#include <prometheus/metric_family.h>

#include "server/counter_exchange.h"

namespace palisim {

class MetricsCollector : public prometheus::Collectable {
 public:
  // `start_time_s`: when the program started, in seconds since the epoch.
  MetricsCollector(CounterExchange& counters, double start_time_s)
      : counters_(counters), start_time_s_(start_time_s) {}

  std::vector<prometheus::MetricFamily> Collect() const override;

 private:
  CounterExchange& counters_;
  double start_time_s_;
};

}  // namespace palisim
