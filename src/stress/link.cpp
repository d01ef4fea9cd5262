#include "stress/link.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "stress/connection.h"

namespace palisim::stress {

namespace {

// The reason of the first queued OpenSSL error; the queue is emptied.
const char* take_reason() {
  unsigned long e = ERR_get_error();
  ERR_clear_error();
  const char* reason = e ? ERR_reason_error_string(e) : nullptr;
  return reason ? reason : "unknown reason";
}

void print_failure(const char* what, const char* file) {
  std::printf("TLS: %s%s%s: %s\n", what, file ? " " : "", file ? file : "", take_reason());
}

}  // namespace

TlsContext::~TlsContext() {
  if (ctx_) SSL_CTX_free(ctx_);
}

bool TlsContext::load(const TlsOptions& options) {
  ctx_ = SSL_CTX_new(TLS_client_method());
  if (!ctx_ || SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION) != 1) {
    print_failure("no context", nullptr);
    return false;
  }
  if ((options.cacert ? SSL_CTX_load_verify_locations(ctx_, options.cacert, nullptr)
                      : SSL_CTX_set_default_verify_paths(ctx_)) != 1) {
    print_failure("--cacert", options.cacert);
    return false;
  }
  SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
  if (options.cert && SSL_CTX_use_certificate_chain_file(ctx_, options.cert) != 1) {
    print_failure("--cert", options.cert);
    return false;
  }
  if (options.key && (SSL_CTX_use_PrivateKey_file(ctx_, options.key, SSL_FILETYPE_PEM) != 1 ||
                      SSL_CTX_check_private_key(ctx_) != 1)) {
    print_failure("--key", options.key);
    return false;
  }
  // Sends may take part of a copy and are retried from the rest, as on TCP.
  SSL_CTX_set_mode(ctx_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // Replies come in many small records: read what the socket holds at once.
  SSL_CTX_set_read_ahead(ctx_, 1);
  return true;
}

Link::~Link() {
  if (ssl_) SSL_free(ssl_);
}

void Link::notify_close() {
  if (!ssl_) return;
  flush();
  SSL_shutdown(ssl_);
  ERR_clear_error();
}

short Link::wanted_events() const {
  return static_cast<short>(POLLIN | (out_len_ > 0 ? POLLOUT : 0));
}

bool Link::begin_tls(const TlsContext& ctx, const char* host) {
  ssl_ = SSL_new(ctx.get());
  if (!ssl_ || SSL_set_fd(ssl_, fd_) != 1) {
    print_failure("no connection", nullptr);
    return false;
  }
  in_addr addr{};
  if (inet_pton(AF_INET, host, &addr) == 1) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host);
  } else {
    SSL_set_tlsext_host_name(ssl_, host);
    SSL_set1_host(ssl_, host);
  }
  return true;
}

Handshake Link::continue_handshake(std::string& why) {
  ERR_clear_error();
  int ret = SSL_connect(ssl_);
  if (ret == 1) return Handshake::kDone;
  int err = SSL_get_error(ssl_, ret);
  if (err == SSL_ERROR_WANT_READ) return Handshake::kWantRead;
  if (err == SSL_ERROR_WANT_WRITE) return Handshake::kWantWrite;
  long verify = SSL_get_verify_result(ssl_);
  why = verify != X509_V_OK ? X509_verify_cert_error_string(verify) : take_reason();
  ERR_clear_error();
  return Handshake::kFailed;
}

bool Link::start_tls(const TlsContext& ctx, const char* host, double timeout_s) {
  if (!begin_tls(ctx, host)) return false;
  int64_t deadline = now_ns() + static_cast<int64_t>(timeout_s * kNsPerSecond);
  std::string why;
  for (;;) {
    Handshake step = continue_handshake(why);
    if (step == Handshake::kDone) return true;
    if (step == Handshake::kFailed) {
      std::printf("TLS: handshake failed: %s\n", why.c_str());
      return false;
    }
    if (!wait_until(fd_, step == Handshake::kWantWrite ? POLLOUT : POLLIN, deadline)) {
      std::printf("TLS: handshake failed: no answer within %g seconds\n", timeout_s);
      return false;
    }
  }
}

ssize_t Link::send(const char* data, size_t len) {
  if (!ssl_) return ::send(fd_, data, len, MSG_NOSIGNAL);
  if ((out_len_ == out_.size() || retry_len_ != 0) && !flush()) return -1;
  // A write waiting for the socket is retried with the same bytes, so none are added.
  if (out_len_ == out_.size() || retry_len_ != 0) {
    errno = EAGAIN;
    return -1;
  }
  size_t take = std::min(len, out_.size() - out_len_);
  std::memcpy(out_.data() + out_len_, data, take);
  out_len_ += take;
  return static_cast<ssize_t>(take);
}

bool Link::flush() {
  if (out_len_ == 0) return true;
  size_t len = retry_len_ != 0 ? retry_len_ : out_len_;
  size_t moved = 0;
  ERR_clear_error();
  errno = 0;
  int ret = SSL_write_ex(ssl_, out_.data(), len, &moved);
  ssize_t n = result(ret, moved);
  if (n < 0) {
    retry_len_ = len;
    return errno == EAGAIN;
  }
  retry_len_ = 0;
  out_len_ -= moved;
  std::memmove(out_.data(), out_.data() + moved, out_len_);
  return true;
}

ssize_t Link::recv(char* buf, size_t len) {
  if (!ssl_) return ::recv(fd_, buf, len, 0);
  if (!flush()) return -1;
  size_t moved = 0;
  ERR_clear_error();
  errno = 0;
  int ret = SSL_read_ex(ssl_, buf, len, &moved);
  return result(ret, moved);
}

ssize_t Link::result(int ret, size_t moved) {
  if (ret == 1) return static_cast<ssize_t>(moved);
  switch (SSL_get_error(ssl_, ret)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
      errno = EAGAIN;
      return -1;
    case SSL_ERROR_ZERO_RETURN:
      return 0;
    case SSL_ERROR_SYSCALL:
      if (errno == 0) return 0;
      return -1;
    default:
      ERR_clear_error();
      errno = EPROTO;
      return -1;
  }
}

}  // namespace palisim::stress
