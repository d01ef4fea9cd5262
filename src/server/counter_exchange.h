// How another thread reads the serving loop's counters without the loop
// taking a lock or an atomic operation per request: while they change, the
// loop copies its connections' counters here, under the lock, at most every
// kPublishEveryMs, and a reader takes the last copy; the requests' counts
// are the statistics', read as they are. The loop's poll set stays as it is.
#pragma once

#include <cstdint>
#include <mutex>

#include "server/command_stats.h"
#include "server/loop_counters.h"

namespace palisim {

// How old a copy a reader may get while the counters change.
inline constexpr int64_t kPublishEveryMs = 100;

class CounterExchange {
 public:
  // `commands` counts the requests of the loops that publish here.
  explicit CounterExchange(const CommandStats& commands) : commands_(commands) {}

  const CommandStats& commands() const { return commands_; }
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
  const CommandStats& commands_;
  mutable std::mutex mutex_;
  LoopCounters last_;
};

}  // namespace palisim
