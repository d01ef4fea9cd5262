// TLS handshakes, the client certificate's check included, on a thread of
// their own, so that no client's handshake costs the serving thread its
// time: the loop hands over each socket its TLS listener accepts and takes
// back, between its passes, what became of it: an established session for a
// connection slot, or the cause it was closed for. A handshake in progress
// holds no slot; at most kMaxHandshakes are in progress at once.
#pragma once

#include <openssl/ssl.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <thread>

#include "server/connection.h"
#include "server/stop_signal.h"
#include "server/tls_session.h"

namespace palisim {

inline constexpr int kMaxHandshakes = 64;
// "address:port", then once established the protocol and the client certificate's subject.
inline constexpr size_t kPeerCapacity = 160;

// A socket handed back: with a session when its handshake completed; else
// closed already, for `cause`, with one line saying why.
struct HandshakeOutcome {
  int fd = -1;
  std::unique_ptr<TlsSession> session;  // null when the handshake failed
  CloseCause cause = CloseCause::kNone;
  char peer[kPeerCapacity] = "";
};

class HandshakeWorker {
 public:
  explicit HandshakeWorker(SSL_CTX* ctx);
  // Stops the thread and closes every socket it still holds.
  ~HandshakeWorker();
  HandshakeWorker(const HandshakeWorker&) = delete;
  HandshakeWorker& operator=(const HandshakeWorker&) = delete;

  // The loop's side. Sockets handed over and not yet taken back.
  int in_flight() const { return in_flight_; }
  bool full() const { return in_flight_ >= kMaxHandshakes; }
  // Hands over an accepted socket (only while not full); it is closed unless
  // its handshake completes within limit_ms of now_ms (steady clock, ms).
  void start(int fd, const char* peer, int64_t now_ms, int64_t limit_ms);
  // Readable while outcomes wait to be taken.
  int ready_fd() const { return ready_.fd(); }
  // Moves the waiting outcomes into out; returns how many.
  size_t take(std::span<HandshakeOutcome> out);

 private:
  struct Job {
    int fd = -1;
    std::unique_ptr<TlsSession> session;
    int64_t due_ms = 0;    // closed then unless established
    int64_t limit_ms = 0;  // for the line that says so
    bool wants_write = false;
    char peer[kPeerCapacity] = "";
  };

  void run();
  // Moves handed-over sockets into jobs; false once asked to stop.
  bool take_started();
  // One step of a job's handshake; true when it ended either way.
  bool step(Job& job);
  void finish(Job& job, CloseCause cause);
  void hand_back();

  SSL_CTX* ctx_;
  int in_flight_ = 0;  // the loop's count: started minus taken

  // Both sides, under mutex_: sockets handed over, outcomes to hand back.
  std::mutex mutex_;
  std::array<Job, kMaxHandshakes> started_;
  size_t started_count_ = 0;
  std::array<HandshakeOutcome, kMaxHandshakes> done_;
  size_t done_count_ = 0;
  bool stopping_ = false;

  // The worker's own: handshakes in progress and outcomes not yet handed back.
  std::array<Job, kMaxHandshakes> jobs_;
  size_t job_count_ = 0;
  std::array<HandshakeOutcome, kMaxHandshakes> finished_;
  size_t finished_count_ = 0;

  StopSignal wake_;   // the worker's: a socket was handed over, or stop
  StopSignal ready_;  // the loop's: outcomes wait
  std::thread thread_;
};

}  // namespace palisim
