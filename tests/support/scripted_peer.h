// A loopback listener that answers each client it accepts, one after
// another, once the client has sent something: chunks of bytes, each after a
// pause in ms; then it reads until the client leaves. Stands for a hostile,
// slow or silent server (a negative pause: it leaves there without a word,
// and resets what comes after); given a TLS context, it completes the handshake
// first and plays the script inside TLS.
#pragma once

#include <openssl/ssl.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "free_port.h"

namespace palisim::testing {

class ScriptedPeer {
 public:
  using Script = std::vector<std::pair<int, std::string>>;
  explicit ScriptedPeer(Script script, SSL_CTX* tls = nullptr)
      : listener_(INADDR_LOOPBACK),
        tls_(tls),
        thread_([this, script = std::move(script)] { play(script); }) {
    // OpenSSL writes without MSG_NOSIGNAL, and the client may have left.
    if (tls) signal(SIGPIPE, SIG_IGN);
  }
  ~ScriptedPeer() {
    stop_ = true;
    shutdown(listener_.fd(), SHUT_RDWR);  // ends a waiting accept
    thread_.join();
  }
  int port() const { return listener_.port(); }
  int accepted() const { return accepted_; }
  bool client_left() const { return client_left_; }  // the client last accepted

 private:
  void play(const Script& script) {
    for (int fd; (fd = accept(listener_.fd(), nullptr, nullptr)) >= 0; close(fd)) {
      ++accepted_;
      client_left_ = false;
      SSL* ssl = tls_ ? SSL_new(tls_) : nullptr;
      if (!ssl || (SSL_set_fd(ssl, fd) == 1 && SSL_accept(ssl) == 1)) serve(fd, ssl, script);
      SSL_free(ssl);
    }
  }

  void serve(int fd, SSL* ssl, const Script& script) {
    // Each read waits up to 50 ms: bytes read, 0 once the client left, -1 for none yet.
    auto take = [ssl, buf = std::string(4096, '\0')](int fd) mutable {
      ssize_t n = ssl ? SSL_read(ssl, buf.data(), static_cast<int>(buf.size()))
                      : read(fd, buf.data(), buf.size());
      bool none = ssl ? n <= 0 && SSL_get_error(ssl, static_cast<int>(n)) == SSL_ERROR_WANT_READ
                      : n < 0 && errno == EAGAIN;
      return none ? -1 : std::max<ssize_t>(n, 0);
    };
    timeval tick{0, 50000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
    ssize_t n = -1;
    while (!stop_ && (n = take(fd)) < 0) {
    }
    for (const auto& [pause_ms, bytes] : script) {
      if (pause_ms < 0) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
      if (ssl) {
        SSL_write(ssl, bytes.data(), static_cast<int>(bytes.size()));
      } else {
        send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      }
    }
    while (!stop_ && n != 0)
      n = take(fd);
    client_left_ = !stop_;
  }

  BusyPort listener_;
  SSL_CTX* tls_;  // null: plain TCP
  std::atomic<bool> stop_{false}, client_left_{false};
  std::atomic<int> accepted_{0};
  std::thread thread_;
};

// A server that stalls its client: silent, trickling a byte every 50 ms for
// a second and never a '>', or too busy to accept.
enum class Stall { kSilent, kTrickle, kFullBacklog };

class StallingServer {
 public:
  explicit StallingServer(Stall stall, SSL_CTX* tls = nullptr) {
    using Script = ScriptedPeer::Script;
    if (stall != Stall::kFullBacklog) {
      peer_.emplace(stall == Stall::kTrickle ? Script(20, {50, "x"}) : Script{}, tls);
      return;
    }
    // A connection of its own fills a backlog of 0: the kernel answers no other.
    listen(busy_.fd(), 0);
    sockaddr_in sa{
        AF_INET, htons(static_cast<uint16_t>(busy_.port())), {htonl(INADDR_LOOPBACK)}, {}};
    connect(filler_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  }
  ~StallingServer() { close(filler_); }
  int port() const { return peer_ ? peer_->port() : busy_.port(); }

 private:
  BusyPort busy_{INADDR_LOOPBACK};
  int filler_ = socket(AF_INET, SOCK_STREAM, 0);
  std::optional<ScriptedPeer> peer_;
};

}  // namespace palisim::testing
