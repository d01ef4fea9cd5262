#include <cstring>

#include "stress/pacing.h"

namespace palisim::stress {

RunOutcome run_ping_pong(Link& link, const char* command, size_t command_len, uint32_t count) {
  char chunk[1024];
  for (uint32_t replies = 0; replies < count; ++replies) {
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
    }
  }
  return {RunStop::kCompleted, count};
}

}  // namespace palisim::stress
