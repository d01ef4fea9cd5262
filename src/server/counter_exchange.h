// How another thread reads the serving loop's counters without the loop
// taking a lock or an atomic operation per request: a reader asks through a
// wake-up descriptor the loop polls, and the loop copies its counters here,
// under the lock, once per request of a reader.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "server/loop_counters.h"
#include "server/stop_signal.h"

namespace palisim {

class CounterExchange {
 public:
  // Any thread: asks a serving loop for fresh counters and waits up to
  // wait_ms for them; returns what the loop published last, which is the
  // end of the last run, or zeros, while no loop serves.
  LoopCounters snapshot(int wait_ms);

  // The loop's side. The descriptor turns readable when a reader asks.
  int request_fd() const { return asked_.fd(); }
  // Copies the counters for the readers and wakes them.
  void publish(const LoopCounters& counters);
  // Called as the loop starts and ends; a reader waits only while it serves.
  void set_serving(bool serving);

 private:
  std::mutex mutex_;
  std::condition_variable published_;
  LoopCounters last_;        // as the loop last published them
  uint64_t generation_ = 0;  // counts publications
  bool serving_ = false;
  StopSignal asked_;  // readable while a reader waits for a publication
};

}  // namespace palisim
