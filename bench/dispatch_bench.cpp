// dispatch_request and the line framing, measured without a network.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "alloc_counter.h"
#include "dispatch/command_table.h"
#include "dispatch_timing.h"
#include "server/command_stats.h"
#include "server/connection.h"
#include "server/diag.h"
#include "server/request_trace.h"

namespace palisim::bench {
namespace {

void BM_DispatchEcho(benchmark::State& state) {
  time_dispatch(state, Settings{}, "<00#Sent for testing throughput...#>");
}
BENCHMARK(BM_DispatchEcho);

// A full input buffer of echo lines cut, dispatched and queued, as one read
// would deliver them; the output is emptied between rounds as a send would.
// `stats` and `trace`, when given, observe the connection's requests as the
// server sets them; `timed`: the statistics take handler time, as they do
// with metrics on.
void frame_echo_lines(benchmark::State& state, CommandStats* stats, RequestTrace* trace,
                      bool timed = false) {
  RequestObservers observers;
  observers.add(trace, RequestTrace::kNeeds);
  observers.add(stats, {.time = timed});
  std::string lines;
  int per_buffer = 0;
  const std::string line = "<00#Sent for testing throughput...#>\r\n";
  while (lines.size() + line.size() <= static_cast<size_t>(kInputCapacity)) {
    lines += line;
    ++per_buffer;
  }
  int pair[2];
  socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair);  // as accepted sockets are
  auto c = std::make_unique<Connection>();
  c->open(pair[0], Settings{}, {"", &observers});
  size_t before = allocation_count();
  for (auto _ : state) {
    c->on_received(lines, 0);
    benchmark::DoNotOptimize(c->pending_output().size());
    c->discard_output();
  }
  state.counters["allocs_per_request"] = static_cast<double>(allocation_count() - before) /
                                         static_cast<double>(state.iterations() * per_buffer);
  state.SetItemsProcessed(state.iterations() * per_buffer);
  c->close(CloseCause::kPeerClosed);
  close(pair[1]);
}

void BM_FramingEchoLines(benchmark::State& state) {
  frame_echo_lines(state, nullptr, nullptr);
}
BENCHMARK(BM_FramingEchoLines);

// The same with the statistics the server always keeps, and with the
// masked request trace too, its lines written to /dev/null.
void BM_FramingEchoLinesCounted(benchmark::State& state) {
  CommandStats stats;
  if (state.range(0) == 0) {
    frame_echo_lines(state, &stats, nullptr);
    return;
  }
  FILE* sink = std::fopen("/dev/null", "w");
  set_diag_stream(sink);
  auto trace = std::make_unique<RequestTrace>(TraceMode::kMasked);
  frame_echo_lines(state, &stats, trace.get());
  set_diag_stream(nullptr);
  std::fclose(sink);
}
BENCHMARK(BM_FramingEchoLinesCounted)->ArgName("traced")->Arg(0)->Arg(1);

// The statistics with handler time, which the metrics endpoint reads.
void BM_FramingEchoLinesMetrics(benchmark::State& state) {
  CommandStats stats;
  frame_echo_lines(state, &stats, nullptr, true);
}
BENCHMARK(BM_FramingEchoLinesMetrics);

}  // namespace
}  // namespace palisim::bench

BENCHMARK_MAIN();
