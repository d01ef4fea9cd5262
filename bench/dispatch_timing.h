// Timing one request through dispatch_request, shared by the command benchmarks.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "protocol/settings.h"

namespace palisim::bench {

// Times the request, which must get a success reply (a refused request would
// measure the wrong path), and counts allocations per request. data_bytes,
// when positive, is what the command processes per request. As on a
// connection, one key cache serves every iteration: the keys come from it.
void time_dispatch(benchmark::State& state, const Settings& s, std::string_view request,
                   int64_t data_bytes = 0);

// The same with every key block opened afresh, as a connection's first
// request with those keys.
void time_dispatch_uncached(benchmark::State& state, const Settings& s, std::string_view request);

// A key block of the key (hex) under the settings' MFK, as requests carry it.
std::string under_mfk(const Settings& s, const char* header, const char* key_hex);

// "<f0#f1#...#>": a request of the given fields.
std::string join(std::initializer_list<std::string> fields);

}  // namespace palisim::bench
