// The client's one TCP connection: resolving the host, connecting within a
// time-out, and the graceful close after the run.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <optional>

namespace palisim::stress {

// "any" and "localhost" in any case, a dotted IPv4 address, or a name whose
// first IPv4 address is used.
std::optional<in_addr> resolve_host(const char* host);

enum class ConnectFailure { kNone, kSocket, kConnect, kTimedOut };

struct ConnectResult {
  int fd;                  // the connected, non-blocking socket; -1 on failure
  ConnectFailure failure;  // which step failed
};

// A server whose backlog is full never answers: waits timeout_ms at most.
ConnectResult open_connection(in_addr address, uint16_t port, int timeout_ms);

// Polls fd for events until deadline_ns (of CLOCK_MONOTONIC, as now_ns);
// false at the deadline. EINTR is retried.
bool wait_until(int fd, short events, int64_t deadline_ns);

int64_t now_ns();
inline constexpr int64_t kNsPerSecond = 1'000'000'000;

// Shuts the sending side, discards what is already waiting, closes.
void close_gracefully(int fd);

}  // namespace palisim::stress
