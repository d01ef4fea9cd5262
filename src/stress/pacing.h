// The two ways of pacing a run: one command in flight, or sending ahead.
// Both wait in poll while the non-blocking socket can do nothing, and give
// up when a reply takes longer than the time-out.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "stress/link.h"

namespace palisim::stress {

enum class RunStop {
  kCompleted,
  kPeerClosed,     // end of stream before every reply came
  kSendFailed,     // a send failed with anything but would-block
  kReceiveFailed,  // a receive failed with anything but would-block
  kTimedOut,       // the next reply did not come within the time-out
};

struct RunOutcome {
  RunStop stop;
  uint32_t done;  // replies seen, or commands sent completely after kSendFailed
};

// Sends the command with one send call, then receives until a chunk holds a
// carriage return; count times. Each reply has timeout_ns from its send.
RunOutcome run_ping_pong(Link& link, const char* command, size_t command_len, uint32_t count,
                         int64_t timeout_ns);

// Keeps sending copies while the socket takes them and counts the '>' of the
// replies until there are count of them. Each reply has timeout_ns from the
// one before (the first, from the start).
RunOutcome run_pipelined(Link& link, const char* command, size_t command_len, uint32_t count,
                         int64_t timeout_ns);

// EAGAIN and EINTR only mean "try again" on the non-blocking socket.
inline bool would_block(int err) {
  return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}

}  // namespace palisim::stress
