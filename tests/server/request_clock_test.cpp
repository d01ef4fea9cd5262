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
int64_t run_for(int64_t ns) {
  const int64_t from = steady_ns();
  int64_t last = request_clock_ns();
  while (steady_ns() - from < ns) {
    const int64_t now = request_clock_ns();
    // A step back of more than a little would time a request below zero.
    EXPECT_GE(now, last - 100'000);
    last = now;
  }
  return last;
}

TEST(RequestClock, KeepsToTheSteadyClock) {
  // Past the span after which the counter's scale is known.
  run_for(30'000'000);
  const int64_t steady_from = steady_ns();
  const int64_t from = request_clock_ns();
  const int64_t to = run_for(100'000'000);
  const int64_t steady_to = steady_ns();
  EXPECT_NEAR(static_cast<double>(to - from), static_cast<double>(steady_to - steady_from),
              0.01 * static_cast<double>(steady_to - steady_from) + 200'000);
  EXPECT_NEAR(static_cast<double>(to), static_cast<double>(steady_to), 1'000'000);
}

}  // namespace
}  // namespace palisim
