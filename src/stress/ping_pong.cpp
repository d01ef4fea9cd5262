#include <cstring>

#include "stress/connection.h"
#include "stress/pacing.h"

namespace palisim::stress {

RunOutcome run_ping_pong(Link& link, const char* command, size_t command_len, uint32_t count,
                         int64_t timeout_ns) {
  char chunk[1024];
  for (uint32_t replies = 0; replies < count; ++replies) {
    int64_t deadline = now_ns() + timeout_ns;
    // A short send is left short: any request a server of the protocol accepts
    // (5120 bytes at most) fits an empty socket buffer whole.
    if (link.send(command, command_len) < 0 && !would_block(errno)) {
      return {RunStop::kSendFailed, replies};
    }
    for (;;) {
      ssize_t n = link.recv(chunk, sizeof chunk);
      if (n > 0) {
        if (std::memchr(chunk, '\r', static_cast<size_t>(n))) break;
        continue;
      }
      if (n == 0) return {RunStop::kPeerClosed, replies};
      if (!would_block(errno)) return {RunStop::kReceiveFailed, replies};
      // Bytes that trickle in do not extend the reply's time.
      if (!wait_until(link.fd(), link.wanted_events(), deadline)) {
        return {RunStop::kTimedOut, replies};
      }
    }
  }
  return {RunStop::kCompleted, count};
}

}  // namespace palisim::stress
