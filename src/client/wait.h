// Waiting on the client's non-blocking socket, bounded by a deadline, so a
// server that accepts and then says nothing cannot hold the client.
#pragma once

#include <chrono>
#include <string>

namespace palisim {

using Deadline = std::chrono::steady_clock::time_point;

inline Deadline deadline_after(int timeout_ms) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
}

enum class WaitResult { kReady, kTimedOut, kFailed };

// Polls fd for events (POLLIN, POLLOUT) until the deadline; EINTR is retried.
WaitResult wait_for(int fd, short events, Deadline deadline);

// "no answer within 30 seconds", with the time-out as given (0.5, 30).
std::string no_answer_within(int timeout_ms);

}  // namespace palisim
