// What one run of the stress client does: where it connects, what it sends,
// how often, and how it paces the replies.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "stress/link.h"

namespace palisim::stress {

enum class Algorithm : int {
  kPingPong = 0,   // one command in flight
  kPipelined = 1,  // send ahead, count replies as they come
};

// Linux refuses a single argument longer than this (MAX_ARG_STRLEN on
// 4 KiB pages), so a command read from the command line always fits.
inline constexpr size_t kMaxCommandTextLen = 128 * 1024;

// The echo command; CR LF is appended to it as to any --cmd text.
inline constexpr char kDefaultCommandText[] = "<00#Sent for testing throughput...#>";

enum class OutputFormat { kText, kJson, kCsv };

inline constexpr int32_t kMaxConnections = 1000;

// Options of the load mode; none of them set leaves the one-connection run
// and its output exactly as they were.
struct LoadOptions {
  bool used = false;               // any option below was given
  int32_t connections = 1;         // 1 to kMaxConnections
  int32_t pipeline = 0;            // requests in flight per connection; 0: from the algorithm
  double duration_s = 0;           // 0: run count requests instead
  double warmup_s = 0;             // first seconds left out of the figures
  double rate = 0;                 // requests per second over all connections; 0: unpaced
  const char* mix_file = nullptr;  // WEIGHT<TAB>REQUEST lines; nullptr: the one command
  bool check = false;              // quote bad replies and end with status 1 after any
  OutputFormat format = OutputFormat::kText;
};

struct RunParameters {
  const char* host = "localhost";  // as given on the command line
  int32_t port = 7000;             // as read; only its low 16 bits are used
  int32_t count = 100;             // as read; used as an unsigned count
  Algorithm algorithm = Algorithm::kPingPong;
  std::array<char, kMaxCommandTextLen + 2> command{};  // the text to send, CR LF included
  size_t command_len = 0;                              // bytes of command in use
  LoadOptions load;
  TlsOptions tls;         // --tls and its files
  double timeout_s = 30;  // --timeout: the connect, the handshake, and each reply at most
};

}  // namespace palisim::stress
