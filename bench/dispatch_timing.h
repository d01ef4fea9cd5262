// Timing one request through dispatch_request, shared by the command benchmarks.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string_view>

#include "protocol/settings.h"

namespace palisim::bench {

// Times the request, which must get a success reply (a refused request would
// measure the wrong path), and counts allocations per request. data_bytes,
// when positive, is what the command processes per request.
void time_dispatch(benchmark::State& state, const Settings& s, std::string_view request,
                   int64_t data_bytes = 0);

}  // namespace palisim::bench
