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

struct RunParameters {
  const char* host = "localhost";  // as given on the command line
  int32_t port = 7000;             // as read; only its low 16 bits are used
  int32_t count = 100;             // as read; used as an unsigned count
  Algorithm algorithm = Algorithm::kPingPong;
  std::array<char, kMaxCommandTextLen + 2> command{};  // the text to send, CR LF included
  size_t command_len = 0;                              // bytes of command in use
  TlsOptions tls;                                      // --tls and its files
};

}  // namespace palisim::stress
