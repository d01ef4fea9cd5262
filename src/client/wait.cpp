#include "client/wait.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace palisim {

WaitResult wait_for(int fd, short events, Deadline deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{fd, events, 0};
    // Rounded up, so a deadline less than 1 ms away is not spent spinning.
    int ready = poll(&p, 1, static_cast<int>(std::max<int64_t>(0, left.count() + 1)));
    if (ready > 0) return WaitResult::kReady;
    if (ready == 0 && std::chrono::steady_clock::now() >= deadline) return WaitResult::kTimedOut;
    if (ready < 0 && errno != EINTR) return WaitResult::kFailed;
  }
}

std::string no_answer_within(int timeout_ms) {
  char text[48];
  std::snprintf(text, sizeof text, "no answer within %g seconds", timeout_ms / 1000.0);
  return text;
}

}  // namespace palisim
