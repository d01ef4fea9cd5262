// Handshakes, the check of a client's certificate included, on a thread of
// their own, so that no client's handshake costs the serving thread its
// time: the loop hands over each transport that has a handshake to complete
// and takes back, between its passes, what became of it: a transport ready
// for a connection slot, or the cause it was closed for. A handshake in
// progress holds no slot; at most kMaxHandshakes are in progress at once.
#pragma once

#include <netinet/in.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <thread>

#include "server/close_cause.h"
#include "server/stop_signal.h"
#include "server/transport.h"

namespace palisim {

inline constexpr int kMaxHandshakes = 64;

// A transport handed back: ready when its handshake completed; else closed
// already, for `cause`, with one line saying why.
struct HandshakeOutcome {
  std::unique_ptr<Transport> transport;  // null when the handshake failed
  CloseCause cause = CloseCause::kNone;
  sockaddr_in peer{};
  int listener = 0;  // the listener's index, as handed over
};

class HandshakeWorker {
 public:
  HandshakeWorker();
  // Stops the thread and closes every transport it still holds.
  ~HandshakeWorker();
  HandshakeWorker(const HandshakeWorker&) = delete;
  HandshakeWorker& operator=(const HandshakeWorker&) = delete;

  // The loop's side. Transports handed over and not yet taken back.
  int in_flight() const { return in_flight_; }
  bool full() const { return in_flight_ >= kMaxHandshakes; }
  // Hands over a transport whose handshake is yet to complete, only while
  // not full; its deadline_ms() bounds the handshake.
  void start(std::unique_ptr<Transport> transport, const sockaddr_in& peer, int listener);
  // Readable while outcomes wait to be taken.
  int ready_fd() const { return ready_.fd(); }
  // Moves the waiting outcomes into out; returns how many.
  size_t take(std::span<HandshakeOutcome> out);

 private:
  void run();
  // Moves handed-over transports to the worker's own; false once asked to stop.
  bool take_started();
  // A step of the handshake, or its end at the deadline; true when it ended either way.
  bool advance(HandshakeOutcome& job, bool ready, int64_t now_ms);
  void hand_back();

  int in_flight_ = 0;  // the loop's count: started minus taken

  // Both sides, under mutex_: transports handed over, outcomes to hand back.
  std::mutex mutex_;
  std::array<HandshakeOutcome, kMaxHandshakes> started_;
  size_t started_count_ = 0;
  std::array<HandshakeOutcome, kMaxHandshakes> done_;
  size_t done_count_ = 0;
  bool stopping_ = false;

  // The worker's own: handshakes in progress, then outcomes not yet handed back.
  std::array<HandshakeOutcome, kMaxHandshakes> jobs_;
  size_t job_count_ = 0;
  std::array<HandshakeOutcome, kMaxHandshakes> finished_;
  size_t finished_count_ = 0;

  StopSignal wake_;   // the worker's: a transport was handed over, or stop
  StopSignal ready_;  // the loop's: outcomes wait
  std::thread thread_;
};

}  // namespace palisim
