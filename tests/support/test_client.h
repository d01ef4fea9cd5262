// A blocking loopback client and an in-process server for the wire-level tests.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "config/config.h"
#include "server/diag.h"
#include "server/server.h"
#include "server/stop_signal.h"

namespace palisim::testing {

class TestClient {
 public:
  explicit TestClient(int port, int rcvbuf = 0) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (rcvbuf > 0) setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    timeval tv{10, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  }
  ~TestClient() {
    if (fd_ >= 0) close(fd_);
  }
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  bool connected() const { return connected_; }
  int fd() const { return fd_; }

  bool send_all(const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
      ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // Reads until `count` replies (each ending in ">\r\n") have arrived, the
  // peer closes, or 10 seconds pass without data.
  std::string read_replies(int count) {
    std::string out;
    int seen = 0;
    size_t scanned = 0;
    char buf[65536];
    while (seen < count) {
      ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
      for (size_t pos; (pos = out.find(">\r\n", scanned)) != std::string::npos;) {
        ++seen;
        scanned = pos + 3;
      }
    }
    return out;
  }

  // True when the server closed the connection (end of stream) within 10 seconds.
  bool closed_by_server() {
    char buf[4096];
    for (;;) {
      ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n == 0) return true;
      if (n < 0) return errno == ECONNRESET;
    }
  }

  // True when nothing arrives within the given time.
  bool silent_for(int ms) {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, ms) == 0;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

// run_server on an ephemeral loopback port, on a thread of its own.
class TestServer {
 public:
  // With tls_context, a TLS listener on a free port too (tls_port()).
  explicit TestServer(const char* config_path = "no-such-file.conf", SSL_CTX* tls_context = nullptr,
                      int tls_max_connections = kDefaultTlsMaxConnections) {
    hooks_.tls_context = tls_context;
    hooks_.tls_max_connections = tls_max_connections;
    hooks_.tls_listening = [](ServerHooks* h, int fd) {
      static_cast<TestServer*>(h->owner)->tls_port_ = bound_port(fd);
    };
    hooks_.listening = [](ServerHooks* h, int fd) {
      static_cast<TestServer*>(h->owner)->listen_fd_.store(fd);
    };
    hooks_.accepted = [](ServerHooks* h, int, const sockaddr_in&) {
      static_cast<TestServer*>(h->owner)->accepted_.fetch_add(1);
    };
    hooks_.closed = [](ServerHooks* h, int) {
      static_cast<TestServer*>(h->owner)->closed_.fetch_add(1);
    };
    hooks_.stopped = [](ServerHooks* h) {
      static_cast<TestServer*>(h->owner)->stopped_.store(true);
    };
    hooks_.owner = this;
    thread_ = std::thread([this, config_path] {
      result_ = run_server("localhost", 0, &hooks_, {.config_path = config_path}, &stop_);
      done_.store(true);
    });
    for (int i = 0; i < 6000 && listen_fd_.load() < 0 && !done_.load(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (listen_fd_.load() >= 0) port_ = bound_port(listen_fd_.load());
  }
  ~TestServer() { stop(); }

  int stop() {
    if (thread_.joinable()) {
      stop_.signal();
      thread_.join();
    }
    return result_;
  }

  // Waits until the hooks have counted n closed connections (at most 30 s).
  bool wait_closed(int n) {
    for (int i = 0; i < 6000 && closed_.load() < n; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return closed_.load() >= n;
  }

  int port() const { return port_; }
  int tls_port() const { return tls_port_; }
  int accepted() const { return accepted_.load(); }
  int closed() const { return closed_.load(); }
  bool stopped() const { return stopped_.load(); }

 private:
  ServerHooks hooks_;
  StopSignal stop_;
  std::thread thread_;
  std::atomic<int> listen_fd_{-1};
  std::atomic<int> accepted_{0};
  std::atomic<int> closed_{0};
  std::atomic<bool> stopped_{false};
  std::atomic<bool> done_{false};
  int result_ = -1;
  int port_ = 0;
  int tls_port_ = 0;  // written before listen_fd_, read after it

  static int bound_port(int fd) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    return getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0 ? ntohs(sa.sin_port) : 0;
  }
};

// Captures the server's diagnostic lines, the configuration's messages among
// them as in the program, for the life of the object.
class DiagCapture {
 public:
  DiagCapture() {
    char path[] = "/tmp/palisim-diag-XXXXXX";
    int fd = mkstemp(path);
    path_ = path;
    file_ = fdopen(fd, "a");
    set_diag_stream(file_);
    set_configuration_message_sink(vdiag);
  }
  ~DiagCapture() {
    set_configuration_message_sink(nullptr);
    set_diag_stream(nullptr);
    std::fclose(file_);
    unlink(path_.c_str());
  }
  // Waits up to 30 seconds for the text to hold `needle` `times` times.
  bool wait_for(const std::string& needle, size_t times = 1) {
    for (int i = 0; i < 3000; ++i) {
      std::string all = text();
      size_t found = 0;
      for (size_t at = 0; (at = all.find(needle, at)) != std::string::npos; at += needle.size())
        ++found;
      if (found >= times) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  std::string text() {
    std::fflush(file_);
    std::string out;
    FILE* in = std::fopen(path_.c_str(), "r");
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, in)) > 0)
      out.append(buf, n);
    std::fclose(in);
    return out;
  }

 private:
  std::string path_;
  FILE* file_ = nullptr;
};

}  // namespace palisim::testing
