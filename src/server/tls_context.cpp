#include "server/tls_context.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/pem.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "crypto/openssl_reason.h"
#include "crypto/secure_zero.h"

namespace palisim {

namespace {

// A client's certificate and its intermediates take a few kilobytes; a
// longer list, or a longer chain, only costs the handshake thread its time.
constexpr long kMaxClientCertificateList = 16 * 1024;
constexpr int kMaxVerifyDepth = 4;

// A PEM key or certificate chain is a few kilobytes; anything far larger is
// not one. A CA bundle may hold a few hundred certificates.
constexpr size_t kMaxKeyFileSize = size_t{64} * 1024;
constexpr size_t kMaxCaFileSize = size_t{1024} * 1024;

struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

// A key protected by a passphrase is refused rather than prompted for: the
// server may run without a terminal.
int refuse_passphrase(char*, int, int, void*) {
  return 0;
}

std::string about(const char* option, const char* path, const std::string& reason) {
  return std::string(option) + " '" + path + "': " + reason;
}

// The descriptor of path when it is a regular file of at most max_size
// bytes, else -1 with the reason. O_NONBLOCK keeps a FIFO from stalling the
// open; OpenSSL, given a path, would wait for a writer.
int open_regular_file(const char* path, size_t max_size, std::string& reason) {
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    reason = std::strerror(errno);
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<size_t>(st.st_size) > max_size) {
    close(fd);
    reason = "not a regular file of at most " + std::to_string(max_size / 1024) + " KiB";
    return -1;
  }
  return fd;
}

bool is_regular_file(const char* path, size_t max_size, std::string& reason) {
  int fd = open_regular_file(path, max_size, reason);
  if (fd >= 0) close(fd);
  return fd >= 0;
}

// Reads the key file into a buffer that is wiped however this returns.
EVP_PKEY* read_private_key(const char* path, std::string& reason) {
  int fd = open_regular_file(path, kMaxKeyFileSize, reason);
  if (fd < 0) return nullptr;
  Wiped<std::array<char, kMaxKeyFileSize>> text;
  size_t len = 0;
  ssize_t n;
  do {
    n = read(fd, text.value.data() + len, text.value.size() - len);
    if (n > 0) len += static_cast<size_t>(n);
  } while ((n > 0 && len < text.value.size()) || (n < 0 && errno == EINTR));
  int read_errno = errno;
  close(fd);
  if (n < 0) {
    reason = std::strerror(read_errno);
    return nullptr;
  }
  std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(text.value.data(), static_cast<int>(len)));
  EVP_PKEY* key =
      bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, refuse_passphrase, nullptr) : nullptr;
  if (!key) reason = take_openssl_reason();
  return key;
}

bool use_protocols(SSL_CTX* ctx, uint8_t protocols) {
  int lowest = (protocols & kTls12) ? TLS1_2_VERSION : TLS1_3_VERSION;
  int highest = (protocols & kTls13) ? TLS1_3_VERSION : TLS1_2_VERSION;
  return SSL_CTX_set_min_proto_version(ctx, lowest) == 1 &&
         SSL_CTX_set_max_proto_version(ctx, highest) == 1;
}

bool use_client_ca(SSL_CTX* ctx, const TlsParameters& tls, std::string& error) {
  TlsClientAuth auth = tls.effective_auth();
  if (auth == TlsClientAuth::kNo) return true;
  if (!tls.client_ca[0]) {
    error = auth == TlsClientAuth::kYes ? "tls_auth_clients yes needs tls_client_ca"
                                        : "tls_auth_clients optional needs tls_client_ca";
    return false;
  }
  if (std::string reason; !is_regular_file(tls.client_ca, kMaxCaFileSize, reason)) {
    error = about("tls_client_ca", tls.client_ca, reason);
    return false;
  }
  if (SSL_CTX_load_verify_locations(ctx, tls.client_ca, nullptr) != 1) {
    error = about("tls_client_ca", tls.client_ca, take_openssl_reason());
    return false;
  }
  // The CA names the server sends, so a client with several certificates picks the right one.
  STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(tls.client_ca);
  if (!names) {
    error = about("tls_client_ca", tls.client_ca, take_openssl_reason());
    return false;
  }
  SSL_CTX_set_client_CA_list(ctx, names);
  int mode = SSL_VERIFY_PEER;
  if (auth == TlsClientAuth::kYes) mode |= SSL_VERIFY_FAIL_IF_NO_PEER_CERT;
  SSL_CTX_set_verify(ctx, mode, nullptr);
  SSL_CTX_set_verify_depth(ctx, kMaxVerifyDepth);
  return true;
}

}  // namespace

TlsContext load_tls_context(const TlsParameters& tls, std::string& error) {
  if (!tls.certificate[0] || !tls.private_key[0]) {
    error = "tls_port " + std::to_string(tls.port) + " needs tls_certificate and tls_private_key";
    return nullptr;
  }
  ERR_clear_error();
  TlsContext ctx(SSL_CTX_new(TLS_server_method()));
  if (!ctx || !use_protocols(ctx.get(), tls.protocols)) {
    error = "TLS: " + take_openssl_reason();
    return nullptr;
  }
  if (std::string reason; !is_regular_file(tls.certificate, kMaxKeyFileSize, reason)) {
    error = about("tls_certificate", tls.certificate, reason);
    return nullptr;
  }
  if (SSL_CTX_use_certificate_chain_file(ctx.get(), tls.certificate) != 1) {
    error = about("tls_certificate", tls.certificate, take_openssl_reason());
    return nullptr;
  }
  std::string reason;
  std::unique_ptr<EVP_PKEY, PkeyFree> key(read_private_key(tls.private_key, reason));
  if (!key) {
    error = about("tls_private_key", tls.private_key, reason);
    return nullptr;
  }
  if (SSL_CTX_use_PrivateKey(ctx.get(), key.get()) != 1 ||
      SSL_CTX_check_private_key(ctx.get()) != 1) {
    error = std::string("tls_private_key '") + tls.private_key +
            "' does not match tls_certificate '" + tls.certificate + "': " + take_openssl_reason();
    return nullptr;
  }
  if (!use_client_ca(ctx.get(), tls, error)) return nullptr;
  SSL_CTX_set_max_cert_list(ctx.get(), kMaxClientCertificateList);
  // Sessions resumed with a client certificate need a context to belong to.
  static constexpr unsigned char kSessionContext[] = "palisim";
  SSL_CTX_set_session_id_context(ctx.get(), kSessionContext, sizeof kSessionContext - 1);
  // A client that closes without the close alert has ended its session as
  // it does over plain TCP.
  SSL_CTX_set_options(ctx.get(), SSL_OP_NO_RENEGOTIATION | SSL_OP_IGNORE_UNEXPECTED_EOF);
  // Writes go out of the connection's output buffer, which moves its unsent
  // bytes to the front between tries, and may take part of it, as send does.
  SSL_CTX_set_mode(ctx.get(), SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_ENABLE_PARTIAL_WRITE);
  // Reads take what the socket holds, not a record header and then its
  // body: a pipelining client's many small records cost one read between them.
  SSL_CTX_set_read_ahead(ctx.get(), 1);
  return ctx;
}

}  // namespace palisim
