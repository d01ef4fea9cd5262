// What the serving loop counts for a monitoring system: requests by command
// with their errors, injected actions and handler time, connections by how
// they ended, bytes, and the state of the configuration. Plain counters: only
// the loop's thread writes them; other threads read the copies the loop hands
// to a CounterExchange.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "config/inject_rules.h"
#include "crypto/check_value.h"
#include "dispatch/command_table.h"
#include "protocol/errors.h"
#include "server/connection.h"

namespace palisim {

// Upper bounds of the handler-time buckets, in nanoseconds: 1 µs to 100 ms
// in steps of 1, 2.5 and 5; a last bucket takes the rest.
inline constexpr std::array<int64_t, 16> kHandlerBucketsNs = {
    1'000,   2'500,     5'000,     10'000,    25'000,     50'000,     100'000,    250'000,
    500'000, 1'000'000, 2'500'000, 5'000'000, 10'000'000, 25'000'000, 50'000'000, 100'000'000};

// What an inject rule did to a request it took; a rule may do several.
enum InjectAction : uint8_t { kInjectDelay, kInjectReply, kInjectClose, kInjectApprove };
inline constexpr size_t kInjectActionCount = 4;
inline constexpr std::array<const char*, kInjectActionCount> kInjectActionNames = {
    "delay", "reply", "close", "approve"};

// Closes are counted by the connection's CloseCause, then by the three ways a
// client is closed before it gets a slot.
inline constexpr size_t kShedNoDescriptors = static_cast<size_t>(CloseCause::kWrongPort) + 1;
inline constexpr size_t kShedAllSlotsInUse = kShedNoDescriptors + 1;
inline constexpr size_t kShedShareFull = kShedAllSlotsInUse + 1;  // its listener's share is held
inline constexpr size_t kCloseCauseCount = kShedShareFull + 1;
// Labels by index; kNone, a connection still open, has none.
inline constexpr std::array<const char*, kCloseCauseCount> kCloseCauseNames = {
    nullptr,
    "client",
    "read_error",
    "write_error",
    "socket_error",
    "overlong_line",
    "inject_close",
    "idle_timeout",
    "server_stop",
    "tls_refused",
    "tls_handshake_timeout",
    "tls_on_plain_port",
    "descriptors_exhausted",
    "all_slots_in_use",
    "tls_max_connections"};
static_assert(static_cast<size_t>(CloseCause::kPeerClosed) == 1 &&
                  static_cast<size_t>(CloseCause::kInjected) == 6 &&
                  static_cast<size_t>(CloseCause::kStopped) == 8 &&
                  static_cast<size_t>(CloseCause::kWrongPort) == 11,
              "kCloseCauseNames follows CloseCause");

struct CommandCounts {
  uint64_t requests = 0;
  uint64_t handler_ns = 0;                                            // their handler time, summed
  std::array<uint64_t, kErrorKindCount> errors{};                     // error replies by kind
  std::array<uint64_t, kInjectActionCount> injected{};                // inject rules' actions
  std::array<uint64_t, kHandlerBucketsNs.size() + 1> handler_time{};  // per bucket, not summed up
};

struct LoopCounters {
  std::array<CommandCounts, kCommandCount + 1> commands{};  // the last: no matching command
  uint64_t accepted = 0;  // every socket accepted, also those closed at once
  std::array<uint64_t, kCloseCauseCount> closed{};  // by cause, as kCloseCauseNames names them
  uint64_t open = 0;              // connections holding a slot or completing their handshake
  uint64_t key_cache_hits = 0;    // of connections closed; a snapshot adds the open ones
  uint64_t key_cache_misses = 0;  // likewise
  uint64_t bytes_received = 0;
  uint64_t bytes_sent = 0;
  bool config_loaded = false;                    // the last parse of the file succeeded
  CheckValueText mfk_check{'n', 'o', 'n', 'e'};  // of the MFK new connections get

  // One request: `command` as dispatch_request returned it, `error` the
  // reply's error (null for a success), `rule` the inject rule that took it.
  void count_request(size_t command, const ErrorKind* error, int64_t handler_ns,
                     const InjectRule* rule, int64_t delay_ms) {
    CommandCounts& row = commands[command];
    ++row.requests;
    row.handler_ns += static_cast<uint64_t>(handler_ns);
    size_t bucket = 0;
    while (bucket < kHandlerBucketsNs.size() && handler_ns > kHandlerBucketsNs[bucket])
      ++bucket;
    ++row.handler_time[bucket];
    if (error) ++row.errors[error->id];
    if (rule) count_injection(row, *rule, delay_ms);
  }

 private:
  static void count_injection(CommandCounts& row, const InjectRule& rule, int64_t delay_ms) {
    if (delay_ms > 0) ++row.injected[kInjectDelay];
    if (rule.close) {
      ++row.injected[kInjectClose];
    } else if (rule.reply[0] != '\0') {
      ++row.injected[kInjectReply];
    }
    if (rule.approve) ++row.injected[kInjectApprove];
  }
};

}  // namespace palisim
