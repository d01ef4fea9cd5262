// One client's connection: its socket, buffers, settings and key cache, and
// the state that says what it waits for. The event loop tells it when its
// socket is ready or its deadline has come; it reads, answers the requests
// its lines hold, sends, and says whether it stays open.
#pragma once

#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "config/inject_rules.h"
#include "crypto/key_cache.h"
#include "crypto/random_source.h"
#include "protocol/settings.h"
#include "server/close_cause.h"
#include "server/connection_limits.h"
#include "server/fault_injection.h"
#include "server/request_record.h"
#include "server/transport.h"

namespace palisim {

struct Answer;
struct ControlRules;
class OwedReplies;

// Buffers and settings of one connection, allocated when it is accepted.
struct ConnectionBuffers {
  char input[kInputCapacity];    // bytes received and not yet consumed
  char output[kOutputCapacity];  // reply bytes not yet sent
  char reply[kReplyCapacity];    // where the current request's reply is written
  Settings settings;             // this connection's device state
  KeyCache keys;                 // keys its requests opened, and the MFK's contexts
  InjectRules inject;            // its fault-injection rules; none unless configured
  std::array<RuleUse, 2 * kMaxInjectRules> inject_uses;  // what each of them took
  RandomSource random;  // keys, IVs and the inject rules' draws; seeded or not
  // A copy of the request being answered, when an observer asks for the
  // text and its reply waits: kept until its record is handed on.
  char request[kInputCapacity];
};

// What the listener knows of a new connection and gives it.
struct ConnectionSetup {
  const char* peer = "";                        // address:port
  const RequestObservers* observers = nullptr;  // told of every request; null for none
  const InjectRules* inject = nullptr;          // its inject rules; null for none
  uint64_t random_state = 0;         // where the unseeded generator of the rules' draws starts
  const RandomSeed* seed = nullptr;  // restarts its random source from this; null for none
  ControlRules* control = nullptr;   // the control port's rules; null without one
  int64_t now_ms = 0;                // when it was accepted (steady clock)
  int64_t idle_limit_ms = 0;         // closed after this long without a complete request; 0 = never
  uint64_t id = 0;                   // the loop's number for it
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
  // Who it is, as its requests' records name it.
  const ConnectionName& name() const { return record_.connection; }
  // Bytes its transport moved, for monitoring.
  uint64_t bytes_received() const { return bytes_received_; }
  uint64_t bytes_sent() const { return bytes_sent_; }
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

  // The client shut its sending side, and what it is owed waits for an
  // inject rule's delay: that needs only the transport and the replies'
  // bytes, not a slot.
  bool owes_only_delayed_replies() const;
  // Answers the rest of what the client sent as each delay ends, each delay
  // running from the end of the one before, and moves the transport and the
  // replies, each run due at its time, to `owed`; then closes the slot.
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
  // Answers the requests of the lines that end before `end`; returns where
  // the input is consumed to. With observers asking for time, `mark` is when
  // the request's time began (request_clock_ns).
  int32_t process_lines(int32_t end, int64_t now_ms, bool& answered, int64_t& mark);
  // Queues an answer, or holds it for room, its delay or a close; hands its
  // record on once queued. `request` lies in the input, `fields` its cut;
  // empty unless an observer asked for the text. `in_output`: the reply was
  // written at the end of the output (direct_reply), queued already.
  void deliver(const Answer& answer, std::string_view request, const Fields& fields,
               int64_t handler_ns, bool in_output);
  // Where the next reply can be written straight into the output, sparing a
  // copy and a wipe of the reply buffer; null when the output lacks room for
  // the longest reply. Only for replies no inject rule may hold back.
  char* direct_reply();
  // Moves unsent output to the front so the whole free space is usable.
  void compact_output();
  // Moves the reply to the output if it fits; false when it must wait.
  bool queue_reply(int32_t reply_len);
  // Hands record_ to the observers with the reply_len bytes at `reply` as
  // its reply once it left the slot; null when it never will.
  void hand_on(const char* reply, int32_t reply_len);
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
  // What its bytes travel over; owned while open, unless handed over.
  std::unique_ptr<Transport> transport_;
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
  ControlRules* control_ = nullptr;  // the control port's rules; null without one
  char peer_[24] = "";               // address:port
  uint64_t bytes_received_ = 0;
  uint64_t bytes_sent_ = 0;
  const RequestObservers* observers_ = nullptr;  // never null while open
  // The record of the request being answered, its connection's name filled
  // in at open; kept while the reply waits (record_held_), until queued.
  RequestRecord record_;
  bool record_held_ = false;
  // When accepted, last sent a complete request or was last sent what it was
  // owed; the idle clock runs only while nothing is owed.
  int64_t idle_since_ms_ = 0;
  int64_t idle_limit_ms_ = 0;  // 0 = never idle
};

}  // namespace palisim
