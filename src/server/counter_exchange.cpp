#include "server/counter_exchange.h"

#include <chrono>

namespace palisim {

LoopCounters CounterExchange::snapshot(int wait_ms) {
  std::unique_lock lock(mutex_);
  if (serving_) {
    uint64_t seen = generation_;
    asked_.signal();
    published_.wait_for(lock, std::chrono::milliseconds(wait_ms),
                        [&] { return generation_ != seen || !serving_; });
  }
  return last_;
}

void CounterExchange::publish(const LoopCounters& counters) {
  {
    std::lock_guard lock(mutex_);
    asked_.reset();
    last_ = counters;
    ++generation_;
  }
  published_.notify_all();
}

void CounterExchange::set_serving(bool serving) {
  {
    std::lock_guard lock(mutex_);
    serving_ = serving;
  }
  published_.notify_all();
}

}  // namespace palisim
