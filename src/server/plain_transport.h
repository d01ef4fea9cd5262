// Plain TCP under a connection: recv and send on the socket. Its first
// bytes are looked at once, so that a TLS client that came to the plain
// port is told apart from a client of the protocol.
#pragma once

#include <poll.h>

#include "server/transport.h"

namespace palisim {

class PlainTransport final : public Transport {
 public:
  using Transport::Transport;

  IoResult read(std::span<char> into) override;
  IoResult write(std::span<const char> bytes) override;
  short waits_for() const override { return POLLIN; }
  bool has_pending_input() const override { return false; }
  bool handshake_done() const override { return true; }
  CloseCause step_handshake() override { return CloseCause::kNone; }
  int64_t deadline_ms() const override { return 0; }
  CloseCause on_deadline(int64_t) override { return CloseCause::kNone; }
  std::string_view identity() const override { return {}; }

 private:
  bool first_read_ = true;  // the first bytes are yet to be looked at
};

class PlainTransportFactory final : public TransportFactory {
 public:
  std::unique_ptr<Transport> open(const TransportStart& start) const override {
    return std::make_unique<PlainTransport>(start.fd, start.peer);
  }
  bool handshakes() const override { return false; }
};

}  // namespace palisim
