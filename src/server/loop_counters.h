// What the serving loop counts of its connections for a monitoring system:
// connections by how they ended, bytes, key caches, and the state of the
// configuration (requests are CommandStats'). Plain counters: only the
// loop's thread writes them; other threads read the copies the loop hands to
// a CounterExchange.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "crypto/check_value.h"
#include "server/close_cause.h"

namespace palisim {

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

struct LoopCounters {
  uint64_t accepted = 0;  // every socket accepted, also those closed at once
  std::array<uint64_t, kCloseCauseCount> closed{};  // by cause, as kCloseCauseNames names them
  uint64_t open = 0;              // connections holding a slot or completing their handshake
  uint64_t key_cache_hits = 0;    // of connections closed; a snapshot adds the open ones
  uint64_t key_cache_misses = 0;  // likewise
  uint64_t bytes_received = 0;    // likewise
  uint64_t bytes_sent = 0;        // likewise
  bool config_loaded = false;     // the last parse of the file succeeded
  CheckValueText mfk_check{'n', 'o', 'n', 'e'};  // of the MFK new connections get
};

}  // namespace palisim
