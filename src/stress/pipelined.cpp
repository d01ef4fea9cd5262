#include <poll.h>

#include <algorithm>

#include "stress/connection.h"
#include "stress/pacing.h"

namespace palisim::stress {

namespace {

// Where sending stands: copies sent completely, and how far into the next one.
struct SendState {
  uint32_t sent = 0;
  size_t offset = 0;
};

// Offers copies until the socket stops taking them or all count are out.
// Returns false on a send error, leaving state as it was before the call.
bool send_copies(Link& link, const char* command, size_t command_len, uint32_t count,
                 SendState& state) {
  SendState next = state;
  while (next.sent < count) {
    ssize_t n = link.send(command + next.offset, command_len - next.offset);
    if (n < 0) {
      if (would_block(errno)) break;
      return false;
    }
    next.offset += static_cast<size_t>(n);
    if (next.offset < command_len) break;
    next.offset = 0;
    ++next.sent;
  }
  state = next;
  return true;
}

}  // namespace

RunOutcome run_pipelined(Link& link, const char* command, size_t command_len, uint32_t count,
                         int64_t timeout_ns) {
  SendState state;
  uint32_t replies = 0;
  char chunk[1024];
  int64_t deadline = now_ns() + timeout_ns;
  while (replies < count) {
    if (state.sent < count && !send_copies(link, command, command_len, count, state)) {
      return {RunStop::kSendFailed, state.sent};
    }
    ssize_t n = link.recv(chunk, sizeof chunk);
    if (n > 0) {
      // Every reply holds exactly one '>', wherever the chunks cut them.
      auto seen = static_cast<uint32_t>(std::count(chunk, chunk + n, '>'));
      replies += seen;
      if (seen > 0) deadline = now_ns() + timeout_ns;
    } else if (n == 0) {
      return {RunStop::kPeerClosed, replies};
    } else if (!would_block(errno)) {
      return {RunStop::kReceiveFailed, replies};
    } else {
      // Neither sending nor receiving can go on: wait for the socket.
      short events = link.wanted_events();
      if (state.sent < count) events = static_cast<short>(events | POLLOUT);
      if (!wait_until(link.fd(), events, deadline)) return {RunStop::kTimedOut, replies};
    }
  }
  return {RunStop::kCompleted, replies};
}

}  // namespace palisim::stress
