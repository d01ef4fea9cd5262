// How another thread reads the serving loop's counters without the loop
// taking a lock or an atomic operation per request: while they change, the
// loop copies them here, under the lock, at most every kPublishEveryMs, and a
// reader takes the last copy. The loop's poll set stays as it is.
#pragma once

#include <cstdint>
#include <mutex>

#include "server/loop_counters.h"

namespace palisim {

// How old a copy a reader may get while the counters change.
inline constexpr int64_t kPublishEveryMs = 100;

class CounterExchange {
 public:
  // Any thread: the counters as the loop last published them; zeros before
  // a loop has served.
  LoopCounters snapshot() const {
    std::lock_guard lock(mutex_);
    return last_;
  }
  // The loop's side.
  void publish(const LoopCounters& counters) {
    std::lock_guard lock(mutex_);
    last_ = counters;
  }

 private:
  mutable std::mutex mutex_;
  LoopCounters last_;
};

}  // namespace palisim
