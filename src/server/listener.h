// The listening socket: setting it up, accepting from it, and shedding a
// pending connection when the process runs out of descriptors.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <optional>

#include "server/transport.h"

namespace palisim {

// "any", "localhost" (any case), a dotted IPv4 address or a host name.
std::optional<in_addr> resolve_interface(const char* interface_name);

// A bound, listening, non-blocking socket, or -1.
int setup_listener(const char* interface_name, uint16_t port);

// The error pending on a socket, as its last failure left it.
int pending_error(int fd);

// An accepted socket made ready to serve: non-blocking, no Nagle delay.
void prepare_accepted_socket(int fd);

class Listener {
 public:
  // `transport` makes the transport of every connection it accepts.
  Listener(int fd, const TransportFactory& transport) : fd_(fd), transport_(transport) {}
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  int fd() const { return fd_; }
  const TransportFactory& transport() const { return transport_; }
  // POLLIN, or nothing while the listener rests.
  short poll_events() const;
  // When the rest ends (steady clock, ms); 0 when it does not rest.
  int64_t deadline_ms() const { return resume_ms_; }
  // Ends the rest once its time has come.
  void on_deadline(int64_t now_ms);

  enum class Outcome : uint8_t { kNone, kAccepted, kFailed };
  // Accepts one pending connection into fd and peer (kAccepted). kNone when
  // there was none to take or it had to be shed; kFailed when accepting
  // failed for good.
  Outcome accept(int64_t now_ms, int& fd, sockaddr_in& peer);
  // Connections accepted on the spare descriptor and closed at once.
  uint64_t shed() const { return shed_; }

 private:
  void shed_pending_connection(int error, int64_t now_ms);

  int fd_;
  const TransportFactory& transport_;
  int spare_fd_ = open_spare();  // -1 while the process has none to spare
  int64_t resume_ms_ = 0;        // the listener rests until then; 0 when it does not
  uint64_t shed_ = 0;

  static int open_spare();
};

}  // namespace palisim
