// The card verification, data and MAC commands through dispatch_request,
// without a network: time per command, data rate, allocations per request.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "crypto/hex.h"
#include "crypto/key_block.h"
#include "dispatch/command_table.h"
#include "dispatch_timing.h"
#include "server/connection.h"

namespace palisim::bench {
namespace {

constexpr char kMfkHex[] = "0123456789ABCDEFFEDCBA987654321089ABCDEF01234567";
constexpr char kKeyHex[] = "0123456789ABCDEFFEDCBA9876543210";
constexpr char kIvHex[] = "F0E1D2C3B4A59687";

Settings data_settings() {
  Settings s;
  hex_to_binary(s.mfk.data(), kMfkHex, sizeof kMfkHex - 1);
  s.mfk_len = 24;
  s.mfk_present = 1;
  return s;
}

std::string hex_data(int64_t bytes) {
  std::string data;
  for (int64_t i = 0; i < bytes; ++i)
    data += "0123456789ABCDEF"[i % 16] + std::string(1, "FEDCBA9876543210"[i % 16]);
  return data;
}

void BM_GenerateCvv(benchmark::State& state) {
  const Settings s = data_settings();
  std::string key = under_mfk(s, "1CDNE000", kKeyHex);
  time_dispatch(state, s, join({"5D", "1", key, "", "41234567890123458701101"}), 0);
}
BENCHMARK(BM_GenerateCvv);

void BM_VerifyCvv(benchmark::State& state) {
  const Settings s = data_settings();
  std::string key = under_mfk(s, "1CDNE000", kKeyHex);
  time_dispatch(state, s, join({"5E", "1", key, "", "41234567890123458701101", "561"}), 0);
}
BENCHMARK(BM_VerifyCvv);

void BM_EncipherData(benchmark::State& state) {
  const Settings s = data_settings();
  std::string key = under_mfk(s, "1DDNE000", kKeyHex);
  std::string iv = under_mfk(s, "1IDNE000", kIvHex);
  std::string data = hex_data(state.range(0));
  time_dispatch(state, s, join({"97", "E", "1", key, iv, "U", std::to_string(data.size()), data}),
                state.range(0));
}
BENCHMARK(BM_EncipherData)->Arg(8)->Arg(512)->Arg(2048);

void BM_DecipherData(benchmark::State& state) {
  const Settings s = data_settings();
  std::string key = under_mfk(s, "1DDNE000", kKeyHex);
  std::string data = hex_data(state.range(0));
  time_dispatch(state, s, join({"97", "D", "1", key, "D", "U", std::to_string(data.size()), data}),
                state.range(0));
}
BENCHMARK(BM_DecipherData)->Arg(512);

// Algorithm 7 (the retail MAC), four groups.
void BM_GenerateMac(benchmark::State& state) {
  const Settings s = data_settings();
  std::string key = under_mfk(s, "1MDNE000", kKeyHex);
  std::string data = hex_data(state.range(0));
  time_dispatch(state, s, join({"98", key, "3", "7", "", "U", std::to_string(data.size()), data}),
                state.range(0));
}
BENCHMARK(BM_GenerateMac)->Arg(8)->Arg(512)->Arg(2048);

// Algorithm 1 (triple-DES CBC-MAC on every block), chaining value returned.
void BM_GenerateMacChained(benchmark::State& state) {
  const Settings s = data_settings();
  std::string key = under_mfk(s, "1MDNE000", kKeyHex);
  std::string iv = under_mfk(s, "1IDNE000", kIvHex);
  std::string data = hex_data(state.range(0));
  time_dispatch(state, s, join({"98", key, "0", "1", iv, "U", std::to_string(data.size()), data}),
                state.range(0));
}
BENCHMARK(BM_GenerateMacChained)->Arg(512);

void BM_VerifyMac(benchmark::State& state) {
  const Settings s = data_settings();
  std::string key = under_mfk(s, "1MDNE000", kKeyHex);
  std::string data = hex_data(state.range(0));
  time_dispatch(
      state, s,
      join({"99", key, "7", "", "1", "U", std::to_string(data.size()), data, "0000 0000"}),
      state.range(0));
}
BENCHMARK(BM_VerifyMac)->Arg(512);

}  // namespace
}  // namespace palisim::bench
