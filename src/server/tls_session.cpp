#include "server/tls_session.h"

#include <sys/socket.h>

#include <openssl/err.h>
#include <openssl/x509.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace palisim {

namespace {

constexpr char kHandshakeRecord = 0x16;
constexpr char kRecordVersionMajor = 0x03;

// An alert the client sent, as the record names it ("unknown ca",
// "bad certificate"), rather than OpenSSL's version-numbered reason.
bool alert_from_peer(unsigned long error, std::span<char> out) {
  if (ERR_GET_LIB(error) != ERR_LIB_SSL) return false;
  int alert = ERR_GET_REASON(error) - SSL_AD_REASON_OFFSET;
  if (alert < 0 || alert > 255) return false;
  int len = std::snprintf(out.data(), out.size(), "the client sent alert ");
  auto at = static_cast<size_t>(len);
  for (const char* name = SSL_alert_desc_string_long(alert); *name && at + 1 < out.size(); ++name)
    out[at++] = static_cast<char>(std::tolower(static_cast<unsigned char>(*name)));
  out[at] = '\0';
  return true;
}

}  // namespace

FirstBytes classify_first_bytes(std::span<const char> bytes) {
  if (bytes.empty()) return FirstBytes::kUndecided;
  if (bytes[0] != kHandshakeRecord) return FirstBytes::kOther;
  if (bytes.size() < 2) return FirstBytes::kUndecided;
  return bytes[1] == kRecordVersionMajor ? FirstBytes::kTlsHandshake : FirstBytes::kOther;
}

std::unique_ptr<TlsSession> TlsSession::open(SSL_CTX* ctx, int fd) {
  SSL* ssl = SSL_new(ctx);
  if (!ssl) return nullptr;
  std::unique_ptr<TlsSession> session(new TlsSession(ssl));
  if (SSL_set_fd(ssl, fd) != 1) return nullptr;
  session->fd_ = fd;
  SSL_set_accept_state(ssl);
  return session;
}

TlsSession::~TlsSession() = default;

TlsResult TlsSession::handshake() {
  if (!first_byte_checked_) {
    // One byte decides, so a client that sends one byte and waits is not
    // polled again and again for the same byte.
    char first;
    ssize_t n = recv(fd_, &first, 1, MSG_PEEK);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return TlsResult::kWantRead;
      std::snprintf(failure_, sizeof failure_, "%s", std::strerror(errno));
      return TlsResult::kFailed;
    }
    if (n == 0) return TlsResult::kClosed;
    if (first != kHandshakeRecord) {
      plain_text_ = true;
      std::snprintf(failure_, sizeof failure_, "plain text on the TLS port");
      return TlsResult::kFailed;
    }
    first_byte_checked_ = true;
  }
  ERR_clear_error();
  errno = 0;
  int ret = SSL_do_handshake(ssl_.get());
  if (ret == 1) {
    established_ = true;
    return TlsResult::kDone;
  }
  return result_of(ret);
}

TlsResult TlsSession::read(std::span<char> buf, size_t& moved) {
  moved = 0;
  ERR_clear_error();
  errno = 0;
  int ret = SSL_read_ex(ssl_.get(), buf.data(), buf.size(), &moved);
  return ret == 1 ? TlsResult::kDone : result_of(0);
}

TlsResult TlsSession::write(std::span<const char> data, size_t& moved) {
  moved = 0;
  ERR_clear_error();
  errno = 0;
  int ret = SSL_write_ex(ssl_.get(), data.data(), data.size(), &moved);
  return ret == 1 ? TlsResult::kDone : result_of(0);
}

TlsResult TlsSession::result_of(int ret) {
  int err = SSL_get_error(ssl_.get(), ret);
  switch (err) {
    case SSL_ERROR_WANT_READ:
      return TlsResult::kWantRead;
    case SSL_ERROR_WANT_WRITE:
      return TlsResult::kWantWrite;
    case SSL_ERROR_ZERO_RETURN:
      return TlsResult::kClosed;
    case SSL_ERROR_SYSCALL:
      if (ERR_peek_error() == 0) {
        if (errno == EINTR) return TlsResult::kWantRead;
        // End of stream without the close alert.
        if (errno == 0) return TlsResult::kClosed;
        std::snprintf(failure_, sizeof failure_, "%s", std::strerror(errno));
        return TlsResult::kFailed;
      }
      break;
    default:
      break;
  }
  unsigned long first = ERR_get_error();
  ERR_clear_error();
  if (alert_from_peer(first, failure_)) return TlsResult::kFailed;
  const char* reason = first ? ERR_reason_error_string(first) : nullptr;
  if (!reason) reason = "unknown reason";
  long verify = SSL_get_verify_result(ssl_.get());
  if (verify != X509_V_OK) {
    std::snprintf(failure_, sizeof failure_, "%s: %s", reason,
                  X509_verify_cert_error_string(verify));
  } else {
    std::snprintf(failure_, sizeof failure_, "%s", reason);
  }
  return TlsResult::kFailed;
}

void TlsSession::describe(std::span<char> out) const {
  const char* version = SSL_get_version(ssl_.get());
  X509* peer = SSL_get0_peer_certificate(ssl_.get());
  if (!peer) {
    std::snprintf(out.data(), out.size(), "%s no client certificate", version);
    return;
  }
  int len = std::snprintf(out.data(), out.size(), "%s ", version);
  if (len < 0 || static_cast<size_t>(len) >= out.size()) return;
  // The subject alone, one line, RFC 2253 order ("CN=...,O=..."); nothing
  // else of the certificate is shown.
  BIO* bio = BIO_new(BIO_s_mem());
  if (!bio) return;
  // Control and non-ASCII bytes come escaped, so the line stays one line of text.
  X509_NAME_print_ex(bio, X509_get_subject_name(peer), 0, XN_FLAG_RFC2253);
  int got = BIO_read(bio, out.data() + len, static_cast<int>(out.size()) - len - 1);
  out[static_cast<size_t>(len) + static_cast<size_t>(got > 0 ? got : 0)] = '\0';
  BIO_free(bio);
}

void TlsSession::notify_close() {
  if (!established_) return;
  ERR_clear_error();
  SSL_shutdown(ssl_.get());
  ERR_clear_error();
}

}  // namespace palisim
