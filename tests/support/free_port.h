// Picking a TCP port for a server the test is about to start.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace palisim::testing {

// A port nobody listens on right now on any interface, loopback included.
inline int free_port() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_ANY);
  bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  socklen_t len = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  close(fd);
  return ntohs(sa.sin_port);
}

// A port that a listener of the test holds on `address` (any interface or
// loopback), so a server started on it finds the port in use. Closed with
// the object; port() is 0 when the listener could not be set up.
class BusyPort {
 public:
  explicit BusyPort(in_addr_t address = INADDR_ANY) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(address);
    socklen_t len = sizeof sa;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd_, 1) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
      return;
    }
    port_ = ntohs(sa.sin_port);
  }
  ~BusyPort() { close(fd_); }
  BusyPort(const BusyPort&) = delete;
  BusyPort& operator=(const BusyPort&) = delete;

  int port() const { return port_; }
  int fd() const { return fd_; }

 private:
  int fd_;
  int port_ = 0;
};

}  // namespace palisim::testing
