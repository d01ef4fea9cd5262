#include "server/tls_transport.h"

#include <algorithm>
#include <cstring>

#include "server/diag.h"

namespace palisim {

TlsTransport::TlsTransport(SSL_CTX* ctx, const TransportStart& start, int64_t handshake_limit_ms)
    : Transport(start.fd, start.peer),
      session_(TlsSession::open(ctx, start.fd)),
      due_ms_(start.now_ms + handshake_limit_ms),
      limit_ms_(handshake_limit_ms) {}

IoResult TlsTransport::read(std::span<char> into) {
  size_t moved = 0;
  TlsResult r = session_->read(into, moved);
  wants_write_ = r == TlsResult::kWantWrite;
  read_blocked_ = r == TlsResult::kWantRead;
  switch (r) {
    case TlsResult::kDone:
      return {IoStatus::kMoved, moved};
    case TlsResult::kWantRead:
    case TlsResult::kWantWrite:
      return {};
    case TlsResult::kClosed:
      return {IoStatus::kEnded};
    case TlsResult::kFailed:
      break;
  }
  diag("Socket %d from %s %s: TLS read failed: %s\n", fd_, peer_, identity_, session_->failure());
  return {IoStatus::kFailed, 0, CloseCause::kReadFailed};
}

IoResult TlsTransport::write(std::span<const char> bytes) {
  size_t moved = 0;
  TlsResult r = session_->write(bytes, moved);
  if (r == TlsResult::kDone) return {IoStatus::kMoved, moved};
  if (r == TlsResult::kWantRead || r == TlsResult::kWantWrite) return {};
  if (r == TlsResult::kFailed) {
    diag("Socket %d from %s %s: TLS write failed: %s\n", fd_, peer_, identity_,
         session_->failure());
  }
  return {IoStatus::kFailed, 0, CloseCause::kWriteFailed};
}

CloseCause TlsTransport::step_handshake() {
  if (!session_) {
    diag("Socket %d from %s: TLS could not be set up; closing it.\n", fd_, peer_);
    return CloseCause::kTlsRefused;
  }
  TlsResult step = session_->handshake();
  wants_write_ = step == TlsResult::kWantWrite;
  switch (step) {
    case TlsResult::kDone:
      done_ = true;
      session_->describe(identity_);
      diag("Socket %d from %s: TLS established, %s\n", fd_, peer_, identity_);
      return CloseCause::kNone;
    case TlsResult::kWantRead:
    case TlsResult::kWantWrite:
      return CloseCause::kNone;
    case TlsResult::kClosed:
      diag("Socket %d from %s: TLS handshake failed: the client closed the connection\n", fd_,
           peer_);
      break;
    case TlsResult::kFailed:
      if (session_->plain_text()) {
        diag("Socket %d from %s: plain text on the TLS port; closing it.\n", fd_, peer_);
      } else {
        diag("Socket %d from %s: TLS handshake failed: %s\n", fd_, peer_, session_->failure());
      }
      break;
  }
  return CloseCause::kTlsRefused;
}

CloseCause TlsTransport::on_deadline(int64_t now_ms) {
  if (done_ || now_ms < due_ms_) return CloseCause::kNone;
  diag("Socket %d from %s: TLS handshake not completed within %d seconds; closing it.\n", fd_,
       peer_, static_cast<int>(limit_ms_ / 1000));
  return CloseCause::kTlsStalled;
}

bool TlsTransport::shutdown() {
  if (session_) session_->notify_close();
  return Transport::shutdown();
}

std::unique_ptr<Transport> TlsTransportFactory::open(const TransportStart& start) const {
  int64_t limit = start.idle_limit_ms != 0 ? std::min(kHandshakeLimitMs, start.idle_limit_ms)
                                           : kHandshakeLimitMs;
  return std::make_unique<TlsTransport>(ctx_, start, limit);
}

}  // namespace palisim
