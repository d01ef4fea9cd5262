// Connection slots: a client's socket, its buffers and settings, and the
// cutting of its byte stream into carriage-return lines and <...> requests.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "config/inject_rules.h"
#include "crypto/key_cache.h"
#include "protocol/settings.h"

namespace palisim {

class CommandStats;
class RequestTrace;
struct LoopCounters;

inline constexpr int kMaxConnections = 64;
inline constexpr int32_t kInputCapacity = 5120;
// The reply to the longest request that fits the input buffer (an echo of a
// whole line, or data commands' output) fits here, so no reply is ever cut.
inline constexpr int32_t kReplyCapacity = kInputCapacity + 1024;
// Room for several replies, so a pipelining client is answered in few sends.
inline constexpr int32_t kOutputCapacity = 4 * kReplyCapacity;

// Buffers and settings of one connection, allocated when it is accepted.
struct ConnectionBuffers {
  char input[kInputCapacity];    // bytes received and not yet consumed
  char output[kOutputCapacity];  // reply bytes not yet sent
  char reply[kReplyCapacity];    // where the current request's reply is written
  Settings settings;             // this connection's device state
  KeyCache keys;                 // keys its requests opened, and the MFK's contexts
  InjectRules inject;            // its fault-injection rules; none unless configured
};

struct Connection {
  bool in_use = false;                      // the slot holds a connection
  int fd = -1;                              // the client's non-blocking socket
  std::unique_ptr<ConnectionBuffers> bufs;  // owned while in use
  int32_t in_len = 0;                       // bytes held in input
  int32_t out_start = 0;                    // first unsent byte of output
  int32_t out_len = 0;                      // end of the bytes held in output
  int32_t held_len = 0;                     // length of a reply waiting in reply; 0 when none
  int64_t held_until_ms = 0;  // an inject rule's delay: the held reply or close waits until then
  bool close_held = false;    // an inject rule closes it once the replies before are sent
  uint64_t random_state = 0;  // the generator the inject rules draw from
  bool resume = false;        // a write released a held reply: process input again
  bool overlong = false;      // input filled up without a carriage return
  bool mid_line = false;      // input begins inside a line a held reply cut
  char peer[24] = "";         // the client's address:port, for the trace
  CommandStats* stats = nullptr;     // where requests are counted; null counts nothing
  RequestTrace* trace = nullptr;     // the request trace; null when it is off
  LoopCounters* counters = nullptr;  // the loop's counters for monitoring; null counts nothing
  bool requested = false;            // a complete request was dispatched since the loop last looked
  int64_t idle_since_ms = 0;         // when accepted or when it last sent a complete request
  int64_t idle_limit_ms = 0;         // closed after this long without a complete request; 0 = never

  bool has_output() const { return out_len > out_start; }
  // No request is dispatched while a reply or a close waits.
  bool holding() const { return held_len != 0 || close_held; }
  // An inject rule's close is due: its time has come and earlier replies are sent.
  bool closing_now() const { return close_held && held_until_ms == 0 && !has_output(); }
};

using ConnectionTable = std::array<Connection, kMaxConnections>;

// Takes the first free slot for the socket and gives it a copy of settings;
// nullptr when all slots are in use.
Connection* open_connection_slot(ConnectionTable& table, int fd, const Settings& settings);
void close_connection_slot(Connection& c);

// Results of the read and write handlers.
enum IoResult : int { kClose = 0, kKeep = 1 };

IoResult read_from_connection(Connection& c);
IoResult write_to_connection(Connection& c);

// Dispatches every complete line in the input until none is left or a reply
// is held. Consumed bytes are removed from the front of the input.
void process_input_lines(Connection& c);

// Once a delayed reply is due: queues it unless it must wait for room, as
// any held reply does, and marks the input to be processed again.
void release_delayed_reply(Connection& c);

// Shuts the sending side down, drains what the client still sends, closes.
void graceful_close(int fd);

}  // namespace palisim
