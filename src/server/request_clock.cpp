#include "server/request_clock.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#if defined(__x86_64__)
#include <x86intrin.h>
#endif

namespace palisim {

namespace {

int64_t steady_ns() {
  return std::chrono::steady_clock::now().time_since_epoch() / std::chrono::nanoseconds(1);
}

#if defined(__x86_64__)

// The kernel uses the counter only where it runs at one rate on every CPU.
bool kernel_keeps_time_by_counter() {
  FILE* f = std::fopen("/sys/devices/system/clocksource/clocksource0/current_clocksource", "r");
  if (!f) return false;
  char name[32] = "";
  const bool read = std::fgets(name, sizeof name, f) != nullptr;
  std::fclose(f);
  return read && std::strcmp(name, "tsc\n") == 0;
}

constexpr int64_t kCalibrateAfterNs = 10'000'000;
constexpr int64_t kCheckEveryNs = 1'000'000'000;
// Far more than reading the steady clock takes at any rate the counter runs.
constexpr uint64_t kPairTicksMax = 100'000;

// Each thread scales for itself, so reading it takes no lock.
class CounterScale {
 public:
  CounterScale() : usable_(kernel_keeps_time_by_counter()) {}

  int64_t now() {
    if (!usable_) return steady_ns();
    const uint64_t t = __rdtsc();
    if (ns_per_tick_ > 0 && t >= base_tsc_ && t < check_at_tsc_)
      return base_ns_ + static_cast<int64_t>(static_cast<double>(t - base_tsc_) * ns_per_tick_);
    return check();
  }

 private:
  // Reads the steady clock between two counter readings and scales the
  // counter from the first pair to this one: a long span gives a fine scale.
  int64_t check() {
    const uint64_t t0 = __rdtsc();
    const int64_t ns = steady_ns();
    const uint64_t took = __rdtsc() - t0;
    const uint64_t t = t0 + took / 2;
    // A pair the thread was interrupted between says little.
    if (took > kPairTicksMax) return ns;
    if (origin_ns_ == 0) {
      origin_tsc_ = t;
      origin_ns_ = ns;
    } else if (ns - origin_ns_ >= kCalibrateAfterNs && t > origin_tsc_) {
      ns_per_tick_ = static_cast<double>(ns - origin_ns_) / static_cast<double>(t - origin_tsc_);
      base_tsc_ = t;
      base_ns_ = ns;
      check_at_tsc_ = t + static_cast<uint64_t>(static_cast<double>(kCheckEveryNs) / ns_per_tick_);
    }
    return ns;
  }

  const bool usable_;
  uint64_t origin_tsc_ = 0;
  int64_t origin_ns_ = 0;
  uint64_t base_tsc_ = 0;
  int64_t base_ns_ = 0;
  double ns_per_tick_ = 0;  // 0 until the first span is long enough
  uint64_t check_at_tsc_ = 0;
};

thread_local CounterScale counter_scale;

#endif

}  // namespace

int64_t request_clock_ns() {
#if defined(__x86_64__)
  return counter_scale.now();
#else
  return steady_ns();
#endif
}

}  // namespace palisim
