// A loopback listener that plays a script to each client it accepts, one
// after another: chunks of bytes, each after a pause, then it holds the
// connection until the client leaves. Stands for a hostile, slow or silent
// server.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace palisim::testing {

class ScriptedPeer {
 public:
  // A pause that lasts until the client has sent something (a request).
  static constexpr int kOnRequest = -1;
  struct Step {
    int pause_ms;  // before the bytes are sent, or kOnRequest
    std::string bytes;
  };

  explicit ScriptedPeer(std::vector<Step> script) {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (pipe2(stop_, O_CLOEXEC) != 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&sa), len) ||
        listen(listen_fd_, 1) || getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&sa), &len))
      return;
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread([this, script = std::move(script)] { play(script); });
  }
  ~ScriptedPeer() {
    if (thread_.joinable()) {
      (void)!write(stop_[1], "x", 1);
      thread_.join();
    }
    for (int fd : {listen_fd_, stop_[0], stop_[1]})
      close(fd);
  }
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  int port() const { return port_; }
  int accepted() const { return accepted_; }
  // The client last accepted closed its end.
  bool client_left() const { return client_left_; }

 private:
  bool stopped(int ms) {
    pollfd p{stop_[0], POLLIN, 0};
    return poll(&p, 1, ms) > 0;
  }
  // Within 10 seconds, and unless the owner stops it.
  bool readable(int fd) {
    pollfd p[2] = {{stop_[0], POLLIN, 0}, {fd, POLLIN, 0}};
    return poll(p, 2, 10000) > 0 && !(p[0].revents & POLLIN);
  }
  void play(const std::vector<Step>& script) {
    while (readable(listen_fd_)) {
      int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      client_left_ = false;
      ++accepted_;
      char buf[4096];
      for (const Step& step : script) {
        if (step.pause_ms == kOnRequest ? !readable(fd) || read(fd, buf, sizeof buf) <= 0
                                        : stopped(step.pause_ms))
          break;
        (void)!send(fd, step.bytes.data(), step.bytes.size(), MSG_NOSIGNAL);
      }
      for (ssize_t n = 1; n > 0 && readable(fd);)
        client_left_ = (n = read(fd, buf, sizeof buf)) <= 0;
      close(fd);
    }
  }

  int listen_fd_ = -1;
  int stop_[2] = {-1, -1};
  int port_ = 0;
  std::atomic<int> accepted_{0};
  std::atomic<bool> client_left_{false};
  std::thread thread_;
};

}  // namespace palisim::testing
