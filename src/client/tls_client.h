// The client's side of TLS on a connected, blocking socket: the server's
// certificate checked against a CA file (or the system's CAs) and the
// host name or address connected to, and optionally a client certificate.
#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <span>
#include <string>

namespace palisim {

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

  // The handshake as the client of host on fd. False with the reason in error.
  bool connect(int fd, const char* host, const ClientTlsOptions& options, std::string& error);

  // As recv and send on a blocking socket: bytes moved, 0 at the end of the
  // stream, -1 on failure with the reason in error().
  long read(std::span<char> buf);
  long write(std::span<const char> data);
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

  std::unique_ptr<SSL_CTX, CtxFree> ctx_;
  std::unique_ptr<SSL, SslFree> ssl_;
  std::string error_;  // why the last read or write failed
};

}  // namespace palisim
