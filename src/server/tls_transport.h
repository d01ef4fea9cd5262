// TLS under a connection: the handshake first, a step per readiness of the
// socket and within a time limit, then the protocol's bytes through
// OpenSSL. After Redis's tls.c, a read may wait for writability and records
// OpenSSL read ahead are served without waiting for the socket.
#pragma once

#include <poll.h>

#include <openssl/ssl.h>

#include "server/tls_session.h"
#include "server/transport.h"

namespace palisim {

class TlsTransport final : public Transport {
 public:
  // A session OpenSSL could not set up fails the first handshake step.
  TlsTransport(SSL_CTX* ctx, const TransportStart& start, int64_t handshake_limit_ms);

  IoResult read(std::span<char> into) override;
  IoResult write(std::span<const char> bytes) override;
  short waits_for() const override { return wants_write_ ? POLLOUT : POLLIN; }
  bool has_pending_input() const override {
    return done_ && !read_blocked_ && session_->has_buffered_input();
  }
  bool handshake_done() const override { return done_; }
  CloseCause step_handshake() override;
  int64_t deadline_ms() const override { return done_ ? 0 : due_ms_; }
  CloseCause on_deadline(int64_t now_ms) override;
  std::string_view identity() const override { return identity_; }
  // Sends the close alert if it leaves at once, then ends the sending side.
  bool shutdown() override;

 private:
  std::unique_ptr<TlsSession> session_;  // null when OpenSSL could not set one up
  int64_t due_ms_;                       // closed then unless the handshake completed
  int64_t limit_ms_;                     // the handshake's time limit
  bool done_ = false;                    // the handshake and the certificate check completed
  bool wants_write_ = false;             // the last step or read waits for writability
  bool read_blocked_ = false;            // the last read waited for the socket
  char identity_[160] = "";              // protocol and client certificate's subject
};

// A TLS client has this long, or its idle limit when shorter, to complete
// its handshake.
inline constexpr int64_t kHandshakeLimitMs = 10'000;

class TlsTransportFactory final : public TransportFactory {
 public:
  explicit TlsTransportFactory(SSL_CTX* ctx) : ctx_(ctx) {}
  std::unique_ptr<Transport> open(const TransportStart& start) const override;
  bool handshakes() const override { return true; }

 private:
  SSL_CTX* ctx_;
};

}  // namespace palisim
