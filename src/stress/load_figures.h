// What a load run counts, and how it is printed: text, one JSON record or
// one CSV record.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "stress/histogram.h"
#include "stress/request_mix.h"
#include "stress/run_parameters.h"

namespace palisim::stress {

inline constexpr size_t kQuotedReplies = 5;

// The figures of one line of a --mix (a request, or a command code).
struct LineFigures {
  uint64_t sent = 0;        // requests sent after the warm-up
  uint64_t replies = 0;     // replies to those
  uint64_t errors = 0;      // error replies among them
  uint64_t mismatched = 0;  // replies whose code does not answer the request
  LatencyHistogram latency;
};

struct LoadFigures {
  uint32_t opened = 0;     // connections that were accepted
  uint32_t refused = 0;    // connections refused, failed or not answered in time
  uint32_t lost = 0;       // open connections the server closed or reset, or that timed out
  uint32_t timed_out = 0;  // of the lost, those whose next reply took longer than the time-out
  uint64_t sent = 0;       // requests sent after the warm-up
  uint64_t replies = 0;    // replies to those
  uint64_t errors = 0;     // error replies, <00#TT....#> with TT other than 00
  std::array<uint64_t, 100> errors_by_type{};
  uint64_t mismatched = 0;          // replies whose code does not answer their request
  std::vector<std::string> quoted;  // the first bad replies, described
  double seconds = 0;               // the measured part of the run
  bool completed = false;           // every request asked for was answered
  LatencyHistogram latency;
  std::vector<LineFigures> by_line;  // one per RequestMix group, with --mix
  std::string tls_failure;           // why the first refused TLS handshake failed
};

// Replies per second of the measured part.
double achieved_rate(const LoadFigures& figures);

void print_load_start(const RunParameters& params);
void print_load_figures(const RunParameters& params, const LoadFigures& figures,
                        const RequestMix& mix);

}  // namespace palisim::stress
