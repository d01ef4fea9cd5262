#include "stress/connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace palisim::stress {

std::optional<in_addr> resolve_host(const char* host) {
  in_addr addr{};
  if (strcasecmp(host, "any") == 0) {
    addr.s_addr = htonl(INADDR_ANY);
    return addr;
  }
  if (strcasecmp(host, "localhost") == 0) {
    addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
  }
  if (inet_aton(host, &addr) != 0) return addr;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &res) != 0 || !res) return std::nullopt;
  addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
  freeaddrinfo(res);
  return addr;
}

ConnectResult open_connection(in_addr address, uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return {-1, ConnectFailure::kSocket};
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr = address;
  if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    close_gracefully(fd);
    return {-1, ConnectFailure::kConnect};
  }
  // Set only now, so the connect above waits for its answer.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
  return {fd, ConnectFailure::kNone};
}

void close_gracefully(int fd) {
  if (shutdown(fd, SHUT_WR) == 0) {
    char scratch[1024];
    // Non-blocking: ends at the end of the stream, an error, or when nothing waits.
    while (recv(fd, scratch, sizeof scratch, 0) > 0) {
    }
  }
  close(fd);
}

}  // namespace palisim::stress
