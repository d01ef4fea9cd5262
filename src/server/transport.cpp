#include "server/transport.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include "server/diag.h"

namespace palisim {

Transport::Transport(int fd, const char* peer) : fd_(fd) {
  std::snprintf(peer_, sizeof peer_, "%s", peer);
}

bool Transport::shutdown() {
  return ::shutdown(fd_, SHUT_WR) == 0;
}

void Transport::close() {
  if (!shutdown()) {
    ::close(fd_);
    return;
  }
  // Bounded: a client that keeps sending must not hold the one thread that
  // serves every other; what it still sends after this meets a reset.
  char scratch[1024];
  for (int reads = 0; reads < kShutdownReads; ++reads) {
    ssize_t n = recv(fd_, scratch, sizeof scratch, 0);
    if (n <= 0) break;
    diag("FYI, received %d unexpected bytes during shutdown.\n", static_cast<int>(n));
  }
  ::close(fd_);
}

}  // namespace palisim
