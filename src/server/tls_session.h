// One connection's TLS on a non-blocking socket: the server's side of the
// handshake, taken a step at a time as the socket becomes ready, then reads
// and writes of the protocol's bytes. After Redis's tls.c: every call
// returns at once and says which readiness of the socket it waits for.
#pragma once

#include <openssl/ssl.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace palisim {

enum class TlsResult : uint8_t {
  kDone,       // the handshake completed, or bytes moved
  kWantRead,   // try again once the socket is readable
  kWantWrite,  // try again once the socket is writable
  kClosed,     // the peer ended the connection
  kFailed,     // see failure()
};

// What the first bytes of a connection are, as far as they tell.
enum class FirstBytes : uint8_t { kUndecided, kTlsHandshake, kOther };

// A TLS handshake record begins 0x16 0x03; the protocol's text never does.
FirstBytes classify_first_bytes(std::span<const char> bytes);

class TlsSession {
 public:
  // None when OpenSSL cannot set one up.
  static std::unique_ptr<TlsSession> open(SSL_CTX* ctx, int fd);
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  // The next step of the handshake. Before the first step the socket's first
  // byte is looked at without taking it: anything but a handshake record is
  // refused as plain text.
  TlsResult handshake();

  // Up to buf.size() bytes into buf; `moved` is what was read.
  TlsResult read(std::span<char> buf, size_t& moved);
  // Some or all of data; `moved` is what was taken.
  TlsResult write(std::span<const char> data, size_t& moved);
  // Decrypted or received bytes OpenSSL holds that no poll will announce.
  bool has_buffered_input() const { return SSL_has_pending(ssl_.get()) == 1; }

  // Why the last call failed: OpenSSL's reason, with the certificate check's
  // when that refused ("certificate verify failed: unable to get local
  // issuer certificate").
  const char* failure() const { return failure_; }
  // The client sent plain text to the TLS port.
  bool plain_text() const { return plain_text_; }

  // "TLSv1.3 CN=switch-test-01", or "TLSv1.3 no client certificate".
  void describe(std::span<char> out) const;

  // Sends the close alert if it leaves at once; never waits.
  void notify_close();

 private:
  struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
  };
  explicit TlsSession(SSL* ssl) : ssl_(ssl) {}
  TlsResult result_of(int ret);

  std::unique_ptr<SSL, SslFree> ssl_;
  int fd_ = -1;
  bool first_byte_checked_ = false;  // the first byte was a handshake record
  bool established_ = false;         // the handshake completed
  bool plain_text_ = false;          // the first byte was not a handshake record
  char failure_[192] = "";           // why the last call failed
};

}  // namespace palisim
