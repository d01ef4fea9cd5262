// The clock requests are timed by: once it has scaled the time-stamp
// counter, it keeps to the steady clock, in step and in rate.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

#include "server/request_clock.h"

namespace palisim {
namespace {

int64_t steady_ns() {
  return std::chrono::steady_clock::now().time_since_epoch() / std::chrono::nanoseconds(1);
}

// Reads the request clock until the steady clock has run `ns` on.
void run_for(int64_t ns) {
  const int64_t from = steady_ns();
  int64_t last = request_clock_ns();
  while (steady_ns() - from < ns) {
    const int64_t now = request_clock_ns();
    // A step back of more than a little would time a request below zero.
    EXPECT_GE(now, last - 100'000);
    last = now;
  }
}

// The two clocks read together; read again when the thread was interrupted
// between them, which would put them apart by a time slice.
struct Readings {
  int64_t steady = 0;
  int64_t request = 0;
};

Readings read_both() {
  Readings r;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const int64_t before = steady_ns();
    r.request = request_clock_ns();
    const int64_t after = steady_ns();
    r.steady = before + (after - before) / 2;
    if (after - before < 50'000) break;
  }
  return r;
}

TEST(RequestClock, KeepsToTheSteadyClock) {
  // Past the span after which the counter's scale is known.
  run_for(30'000'000);
  const Readings from = read_both();
  run_for(100'000'000);
  const Readings to = read_both();
  const auto steady_span = static_cast<double>(to.steady - from.steady);
  EXPECT_NEAR(static_cast<double>(to.request - from.request), steady_span,
              0.01 * steady_span + 200'000);
  EXPECT_NEAR(static_cast<double>(to.request), static_cast<double>(to.steady), 1'000'000);
}

}  // namespace
}  // namespace palisim
