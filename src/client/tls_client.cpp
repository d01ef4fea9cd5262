#include "client/tls_client.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstring>

#include "crypto/openssl_reason.h"

namespace palisim {

namespace {

bool is_address(const char* host) {
  unsigned char buf[sizeof(in6_addr)];
  return inet_pton(AF_INET, host, buf) == 1 || inet_pton(AF_INET6, host, buf) == 1;
}

// OpenSSL's socket BIO sends without MSG_NOSIGNAL: a write to a server that
// reset the connection, the close alert of the destructor among them, would
// end the process with SIGPIPE. This one is that BIO with such sends.
int send_without_signal(BIO* bio, const char* data, size_t len, size_t* written) {
  BIO_clear_retry_flags(bio);
  ssize_t n = send(BIO_get_fd(bio, nullptr), data, len, MSG_NOSIGNAL);
  if (n >= 0) {
    *written = static_cast<size_t>(n);
    return 1;
  }
  if (BIO_sock_should_retry(-1)) BIO_set_retry_write(bio);
  return 0;
}

const BIO_METHOD* socket_without_signal() {
  static BIO_METHOD* const method = [] {
    const BIO_METHOD* socket = BIO_s_socket();
    BIO_METHOD* m = BIO_meth_new(BIO_TYPE_SOCKET, "socket without SIGPIPE");
    BIO_meth_set_write_ex(m, send_without_signal);
    BIO_meth_set_read(m, BIO_meth_get_read(socket));
    BIO_meth_set_puts(m, BIO_meth_get_puts(socket));
    BIO_meth_set_ctrl(m, BIO_meth_get_ctrl(socket));
    BIO_meth_set_create(m, BIO_meth_get_create(socket));
    BIO_meth_set_destroy(m, BIO_meth_get_destroy(socket));
    return m;
  }();
  return method;
}

}  // namespace

TlsClient::~TlsClient() {
  if (ssl_) SSL_shutdown(ssl_.get());
}

bool TlsClient::connect(int fd, const char* host, const ClientTlsOptions& options, int timeout_ms,
                        std::string& error) {
  ERR_clear_error();
  ctx_.reset(SSL_CTX_new(TLS_client_method()));
  if (!ctx_ || SSL_CTX_set_min_proto_version(ctx_.get(), TLS1_2_VERSION) != 1) {
    error = "TLS: " + take_openssl_reason();
    return false;
  }
  bool trusted = options.cacert.empty() ? SSL_CTX_set_default_verify_paths(ctx_.get()) == 1
                                        : SSL_CTX_load_verify_locations(
                                              ctx_.get(), options.cacert.c_str(), nullptr) == 1;
  if (!trusted) {
    error = "--cacert " + options.cacert + ": " + take_openssl_reason();
    return false;
  }
  SSL_CTX_set_verify(ctx_.get(), SSL_VERIFY_PEER, nullptr);
  if (!options.cert.empty()) {
    if (SSL_CTX_use_certificate_chain_file(ctx_.get(), options.cert.c_str()) != 1) {
      error = "--cert " + options.cert + ": " + take_openssl_reason();
      return false;
    }
    if (SSL_CTX_use_PrivateKey_file(ctx_.get(), options.key.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(ctx_.get()) != 1) {
      error = "--key " + options.key + ": " + take_openssl_reason();
      return false;
    }
  }
  ssl_.reset(SSL_new(ctx_.get()));
  BIO* bio = ssl_ ? BIO_new(socket_without_signal()) : nullptr;
  if (!bio) {
    error = "TLS: " + take_openssl_reason();
    return false;
  }
  BIO_set_fd(bio, fd, BIO_NOCLOSE);
  SSL_set_bio(ssl_.get(), bio, bio);
  // The server's certificate must name what was connected to.
  if (is_address(host)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_.get()), host);
  } else {
    SSL_set_tlsext_host_name(ssl_.get(), host);
    SSL_set1_host(ssl_.get(), host);
  }
  const Deadline deadline = deadline_after(timeout_ms);
  for (;;) {
    ERR_clear_error();
    int ret = SSL_connect(ssl_.get());
    if (ret == 1) return true;
    WaitResult waited = WaitResult::kFailed;
    if (waits_for_socket(ret)) waited = wait_for(fd, wanted_, deadline);
    if (waited == WaitResult::kReady) continue;
    error = "TLS handshake failed: " +
            (waited == WaitResult::kTimedOut ? no_answer_within(timeout_ms) : failure(ret));
    ssl_.reset();
    return false;
  }
}

long TlsClient::read(std::span<char> buf) {
  size_t moved = 0;
  ERR_clear_error();
  errno = 0;
  int ret = SSL_read_ex(ssl_.get(), buf.data(), buf.size(), &moved);
  if (ret == 1) return static_cast<long>(moved);
  if (waits_for_socket(ret)) return kTlsWouldBlock;
  int err = SSL_get_error(ssl_.get(), ret);
  if (err == SSL_ERROR_ZERO_RETURN || (err == SSL_ERROR_SYSCALL && errno == 0)) return 0;
  error_ = failure(ret);
  return -1;
}

long TlsClient::write(std::span<const char> data) {
  size_t moved = 0;
  ERR_clear_error();
  errno = 0;
  int ret = SSL_write_ex(ssl_.get(), data.data(), data.size(), &moved);
  if (ret == 1) return static_cast<long>(moved);
  if (waits_for_socket(ret)) return kTlsWouldBlock;
  error_ = failure(ret);
  return -1;
}

bool TlsClient::waits_for_socket(int ret) {
  int err = SSL_get_error(ssl_.get(), ret);
  if (err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) return false;
  wanted_ = err == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
  return true;
}

bool TlsClient::has_buffered_input() const {
  return SSL_has_pending(ssl_.get()) == 1;
}

std::string TlsClient::failure(int ret) {
  int err = SSL_get_error(ssl_.get(), ret);
  if (err == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
    return errno ? std::strerror(errno) : "the server closed the connection";
  }
  std::string reason = take_openssl_reason();
  long verify = SSL_get_verify_result(ssl_.get());
  if (verify != X509_V_OK) reason += std::string(": ") + X509_verify_cert_error_string(verify);
  return reason;
}

}  // namespace palisim
