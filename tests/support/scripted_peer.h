// A loopback listener that answers each client it accepts, one after
// another, once the client has sent something: chunks of bytes, each after a
// pause in ms; then it reads until the client leaves. Stands for a hostile,
// slow or silent server.
#pragma once

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "free_port.h"

namespace palisim::testing {

class ScriptedPeer {
 public:
  using Script = std::vector<std::pair<int, std::string>>;
  explicit ScriptedPeer(Script script)
      : listener_(INADDR_LOOPBACK), thread_([this, script = std::move(script)] { play(script); }) {}
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
    // Each read waits up to 50 ms: bytes read, 0 once the client left, -1 for none yet.
    auto take = [buf = std::string(4096, '\0')](int fd) mutable {
      ssize_t n = read(fd, buf.data(), buf.size());
      return n < 0 && errno != EAGAIN ? 0 : n;
    };
    for (int fd; (fd = accept(listener_.fd(), nullptr, nullptr)) >= 0; close(fd)) {
      ++accepted_;
      client_left_ = false;
      timeval tick{0, 50000};
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
      ssize_t n = -1;
      while (!stop_ && (n = take(fd)) < 0) {
      }
      for (const auto& [pause_ms, bytes] : script) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
        send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      }
      while (!stop_ && n != 0)
        n = take(fd);
      client_left_ = !stop_;
    }
  }

  BusyPort listener_;
  std::atomic<bool> stop_{false}, client_left_{false};
  std::atomic<int> accepted_{0};
  std::thread thread_;
};

}  // namespace palisim::testing
