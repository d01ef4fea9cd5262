#include "stress/report.h"

#include <cstdio>

namespace palisim::stress {

void print_start_line(const RunParameters& params) {
  std::printf("Starting test to %s:%d for %d iterations...\n", params.host, params.port,
              params.count);
}

void print_figures(std::chrono::steady_clock::duration elapsed, uint32_t count) {
  int64_t ticks = elapsed.count();
  constexpr double kTicksPerSecond = static_cast<double>(std::chrono::steady_clock::period::den) /
                                     std::chrono::steady_clock::period::num;
  double duration = count == 0 ? 0.0 : static_cast<double>(ticks) / kTicksPerSecond / count;
  double rate = duration > 0.0 ? 1.0 / duration : 0.0;
  std::printf("amortized duration: %lf; amortized rate: %lf per sec\n", duration, rate);
}

void print_stop(const RunOutcome& outcome, uint32_t count, double timeout_s) {
  switch (outcome.stop) {
    case RunStop::kCompleted:
      break;
    case RunStop::kPeerClosed:
      std::printf("connection closed by peer after %u of %u replies\n", outcome.done, count);
      break;
    case RunStop::kSendFailed:
      std::printf("send failed after %u of %u commands\n", outcome.done, count);
      break;
    case RunStop::kReceiveFailed:
      std::printf("receive failed after %u of %u replies\n", outcome.done, count);
      break;
    case RunStop::kTimedOut:
      std::printf("no reply within %g seconds after %u of %u replies\n", timeout_s, outcome.done,
                  count);
      break;
  }
}

}  // namespace palisim::stress
