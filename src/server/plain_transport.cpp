#include "server/plain_transport.h"

#include <sys/socket.h>

#include <cerrno>

#include "server/diag.h"
#include "server/tls_session.h"

namespace palisim {

namespace {

bool would_block() {
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

}  // namespace

IoResult PlainTransport::read(std::span<char> into) {
  ssize_t n = recv(fd_, into.data(), into.size(), 0);
  if (n == 0) return {IoStatus::kEnded};
  if (n < 0) {
    return would_block() ? IoResult{} : IoResult{IoStatus::kFailed, 0, CloseCause::kReadFailed};
  }
  if (first_read_) {
    first_read_ = false;
    if (classify_first_bytes({into.data(), static_cast<size_t>(n)}) == FirstBytes::kTlsHandshake) {
      diag("Socket %d from %s: a TLS handshake on the plain port; closing it.\n", fd_, peer_);
      return {IoStatus::kFailed, 0, CloseCause::kWrongPort};
    }
  }
  return {IoStatus::kMoved, static_cast<size_t>(n)};
}

IoResult PlainTransport::write(std::span<const char> bytes) {
  ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  if (n >= 0) return {IoStatus::kMoved, static_cast<size_t>(n)};
  return would_block() ? IoResult{} : IoResult{IoStatus::kFailed, 0, CloseCause::kWriteFailed};
}

}  // namespace palisim
