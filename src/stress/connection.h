// The client's one TCP connection: resolving the host, connecting, and the
// graceful close after the run.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <optional>

namespace palisim::stress {

// "any" and "localhost" in any case, a dotted IPv4 address, or a name whose
// first IPv4 address is used.
std::optional<in_addr> resolve_host(const char* host);

enum class ConnectFailure { kNone, kSocket, kConnect };

struct ConnectResult {
  int fd;                  // the connected, non-blocking socket; -1 on failure
  ConnectFailure failure;  // which step failed
};

ConnectResult open_connection(in_addr address, uint16_t port);

// Shuts the sending side, discards what is already waiting, closes.
void close_gracefully(int fd);

}  // namespace palisim::stress
