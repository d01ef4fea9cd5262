// One client's connection: its socket, buffers, settings and key cache, and
// the state that says what it waits for. The event loop tells it when its
// socket is ready or its deadline has come; it reads, answers the requests
// its lines hold, sends, and says whether it stays open.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "config/inject_rules.h"
#include "crypto/key_cache.h"
#include "protocol/settings.h"
#include "server/close_cause.h"
#include "server/fault_injection.h"
#include "server/transport.h"

namespace palisim {

class CommandStats;
class OwedReplies;
class RequestTrace;
struct Answer;
struct ErrorKind;
struct LoopCounters;

inline constexpr int kMaxConnections = 64;
inline constexpr int32_t kInputCapacity = 5120;
// The reply to the longest request that fits the input buffer (an echo of a
// whole line, or data commands' output) fits here, so no reply is ever cut.
inline constexpr int32_t kReplyCapacity = kInputCapacity + 1024;
// Room for several replies, so a pipelining client is answered in few sends.
inline constexpr int32_t kOutputCapacity = 4 * kReplyCapacity;

// A request whose reply waits (for room or an inject rule's delay), kept for
// the trace's line, which is written once the reply is queued for sending.
struct HeldTraceLine {
  char request[kInputCapacity];  // as received
  int32_t request_len = 0;
  bool pending = false;
  const ErrorKind* error = nullptr;
  int64_t handler_ns = 0;
  Injection injection;
};

// Buffers and settings of one connection, allocated when it is accepted.
struct ConnectionBuffers {
  char input[kInputCapacity];    // bytes received and not yet consumed
  char output[kOutputCapacity];  // reply bytes not yet sent
  char reply[kReplyCapacity];    // where the current request's reply is written
  Settings settings;             // this connection's device state
  KeyCache keys;                 // keys its requests opened, and the MFK's contexts
  InjectRules inject;            // its fault-injection rules; none unless configured
  HeldTraceLine held_line;       // used with the trace on
};

// What the listener knows of a new connection and gives it.
struct ConnectionSetup {
  const char* peer = "";                // address:port, for the trace
  CommandStats* stats = nullptr;        // where requests are counted; null counts nothing
  RequestTrace* trace = nullptr;        // null when the trace is off
  const InjectRules* inject = nullptr;  // its inject rules; null for none
  uint64_t random_state = 0;            // where the inject rules' generator starts
  int64_t now_ms = 0;                   // when it was accepted (steady clock)
  int64_t idle_limit_ms = 0;         // closed after this long without a complete request; 0 = never
  LoopCounters* counters = nullptr;  // the loop's counters for monitoring; null counts nothing
  // Makes the transport of its listener; null for plain TCP.
  const TransportFactory* transport = nullptr;
};

class Connection {
 public:
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() { close(CloseCause::kStopped); }

  // Takes the non-blocking socket with a copy of the settings.
  void open(int fd, const Settings& settings, const ConnectionSetup& setup);
  // The same over a transport whose handshake has completed.
  void open(std::unique_ptr<Transport> transport, const Settings& settings,
            const ConnectionSetup& setup);
  // Traces input that never ended its line, closes the socket gracefully and
  // wipes the buffers, which carry keys and PINs. Does nothing when not open.
  void close(CloseCause cause);

  bool in_use() const { return bufs_ != nullptr; }
  int fd() const { return fd_; }
  const char* peer() const { return peer_; }
  // What its transport's handshake established about the client; empty when nothing.
  std::string_view identity() const { return transport_->identity(); }
  CloseCause close_cause() const { return cause_; }

  // POLLIN, POLLOUT or nothing: unsent output is sent before more is read,
  // and a full input buffer waits for its held reply to leave.
  short poll_events() const;
  // When on_deadline is next due (steady clock, ms); 0 for never.
  int64_t deadline_ms() const;

  // The socket is readable (or hung up): receive, answer, send.
  Verdict on_readable(int64_t now_ms);
  // The socket is writable: send, and answer what a held reply kept waiting.
  Verdict on_writable(int64_t now_ms);
  // A deadline may have come: an inject rule's delay ends or the idle limit passes.
  Verdict on_deadline(int64_t now_ms);
  // Input the transport read ahead waits to be read, which no poll
  // announces: the loop calls on_readable without waiting.
  bool input_waiting() const;

  // Bytes that reached the connection other than through its socket (at most
  // input_room()), answered as received ones are; for tests and benchmarks.
  Verdict on_received(std::span<const char> bytes, int64_t now_ms);
  int32_t input_room() const { return kInputCapacity - in_len_; }
  // Queued reply bytes not yet sent.
  std::string_view pending_output() const {
    return {bufs_->output + out_start_, static_cast<size_t>(out_len_ - out_start_)};
  }
  // Forgets the queued bytes as if sent, where no socket takes them.
  void discard_output();

  // The client shut its sending side and is owed nothing but a delayed
  // reply: that needs only the transport and the reply's bytes, not a slot.
  bool owes_only_delayed_reply() const;
  // Moves the transport and the delayed reply to `owed`, then closes the slot.
  void hand_over(OwedReplies& owed);
  // The buffers as they are, for the checks of what they hold; null when not open.
  const ConnectionBuffers* buffers() const { return bufs_.get(); }

 private:
  enum class State : uint8_t {
    kReading,       // requests are answered as their lines arrive
    kReplyHeld,     // a reply waits in the reply buffer for room in the output
    kReplyDelayed,  // a reply waits in the reply buffer until due_ms_
    kCloseDelayed,  // an inject rule's close waits until due_ms_
    kClosing,       // an inject rule's close waits for the replies before it to leave
  };

  // Answers the complete lines in the input until none is left or an answer
  // waits; resets the idle clock when a request was answered.
  Verdict process_input(int64_t now_ms);
  // Answers the requests of a line; returns where the input is consumed to.
  int32_t process_line(int32_t start, int32_t end, bool& answered,
                       std::chrono::steady_clock::time_point& mark);
  // Queues an answer, or holds it for room, its delay or a close.
  void deliver(const Answer& answer);
  // Moves the reply to the output if it fits; false when it must wait.
  bool queue_reply(int32_t reply_len);
  // The trace's line of the held reply: once queued (held_len_ bytes at
  // `reply`), or when the connection closes before (null).
  void write_held_line(const char* reply);
  // The connection still owes its client a reply: one waits, or output is unsent.
  bool owes_reply() const { return state_ != State::kReading || has_output(); }
  // A held reply that now fits leaves; then the input waiting behind it is answered.
  Verdict release_held_reply(int64_t now_ms);
  // Sends until the socket takes no more; closes once an inject rule's close
  // is due, or once a client that shut its sending side is owed nothing.
  Verdict flush(int64_t now_ms);
  Verdict fail(CloseCause cause) {
    cause_ = cause;
    return Verdict::kClose;
  }
  bool has_output() const { return out_len_ > out_start_; }

  std::unique_ptr<ConnectionBuffers> bufs_;  // owned while open
  int fd_ = -1;                              // the client's non-blocking socket
  std::unique_ptr<Transport> transport_;     // what its bytes travel over; owned while open
  State state_ = State::kReading;
  CloseCause cause_ = CloseCause::kNone;
  int32_t in_len_ = 0;     // bytes held in input
  int32_t out_start_ = 0;  // first unsent byte of output
  int32_t out_len_ = 0;    // end of the bytes held in output
  int32_t held_len_ = 0;   // the waiting reply's length in kReplyHeld and kReplyDelayed
  int64_t due_ms_ = 0;     // when a delayed reply or close is due
  bool mid_line_ = false;  // the input begins inside a line a held reply cut
  // The client was told that its lines end in a line feed alone.
  bool told_line_feed_ = false;
  // The client shut its sending side; the replies it is owed still go out.
  bool peer_closed_ = false;
  uint64_t random_state_ = 0;
  char peer_[24] = "";  // address:port
  CommandStats* stats_ = nullptr;
  RequestTrace* trace_ = nullptr;
  LoopCounters* counters_ = nullptr;
  // When accepted, last sent a complete request or was last sent what it was
  // owed; the idle clock runs only while nothing is owed.
  int64_t idle_since_ms_ = 0;
  int64_t idle_limit_ms_ = 0;  // 0 = never idle
};

}  // namespace palisim
