// The client's side of TLS on a connected, non-blocking socket: the server's
// certificate checked against a CA file (or the system's CAs) and the
// host name or address connected to, and optionally a client certificate.
#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <span>
#include <string>

#include "client/wait.h"

namespace palisim {

// What read and write return when the socket must first become ready for
// wanted_events().
inline constexpr long kTlsWouldBlock = -2;

struct ClientTlsOptions {
  bool on = false;     // speak TLS
  std::string cacert;  // PEM CA file the server's certificate must chain to; "" for the system's
  std::string cert;    // PEM client certificate; "" for none
  std::string key;     // PEM key of cert
};

class TlsClient {
 public:
  TlsClient() = default;
  ~TlsClient();
  TlsClient(const TlsClient&) = delete;
  TlsClient& operator=(const TlsClient&) = delete;

  // The handshake as the client of host on fd, finished within timeout_ms.
  // False with the reason in error.
  bool connect(int fd, const char* host, const ClientTlsOptions& options, int timeout_ms,
               std::string& error);

  // As recv and send: bytes moved, 0 at the end of the stream, -1 on failure
  // with the reason in error(), or kTlsWouldBlock. A write that would block
  // is retried with the same bytes.
  long read(std::span<char> buf);
  long write(std::span<const char> data);
  // POLLIN or POLLOUT: what the last kTlsWouldBlock waits for.
  short wanted_events() const { return wanted_; }
  // Bytes already received that a poll of the socket will not announce.
  bool has_buffered_input() const;
  const std::string& error() const { return error_; }

 private:
  struct CtxFree {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
  };
  struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
  };
  std::string failure(int ret);
  // True, with wanted_ set, when OpenSSL waits for the socket.
  bool waits_for_socket(int ret);

  std::unique_ptr<SSL_CTX, CtxFree> ctx_;
  std::unique_ptr<SSL, SslFree> ssl_;
  std::string error_;  // why the last read or write failed
  short wanted_ = 0;   // the socket event the last kTlsWouldBlock waits for
};

}  // namespace palisim
