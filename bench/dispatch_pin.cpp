// The PIN commands through dispatch_request, without a network: time per
// command and allocations per request. Command 31 of type "1" is also run
// with its key blocks opened afresh each time, and as a full input buffer of
// pipelined lines through the connection's framing.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

#include "alloc_counter.h"
#include "crypto/hex.h"
#include "crypto/key_block.h"
#include "dispatch/command_table.h"
#include "dispatch_timing.h"
#include "server/connection.h"

namespace palisim::bench {
namespace {

constexpr char kMfkHex[] = "0123456789ABCDEFFEDCBA987654321089ABCDEF01234567";
// X9.24-1 test data: the BDK, the PIN keys of KSNs E00001 and E00002, and
// PIN 1234 of account 401234567890 enciphered under each.
constexpr char kBdkHex[] = "0123456789ABCDEFFEDCBA9876543210";
constexpr char kPinKey1Hex[] = "042666B49184CF5C68DE9628D0397B36";
constexpr char kPinKey2Hex[] = "C46551CEF9FD244FAA9AD834130D3B38";
constexpr char kBlock1[] = "1B9C1845EB993A7A";
constexpr char kBlock2[] = "10A01C8D02C69107";
constexpr char kKsn2[] = "FFFF9876543210E00002";
constexpr char kAccount[] = "401234567890";
// A Visa PVV example: PVK, account digits and the PVV of PIN 1234 (key index 1).
constexpr char kPvkHex[] = "5CA64B3C22BEC347CA7E6609904BAAED";
constexpr char kPvvAccount[] = "32000098036";
constexpr char kPvv1234[] = "3003";

Settings pin_settings() {
  Settings s;
  hex_to_binary(s.mfk.data(), kMfkHex, sizeof kMfkHex - 1);
  s.mfk_len = 24;
  s.mfk_present = 1;
  s.second_pin = 'B';
  return s;
}

std::string translate_type1(const Settings& s) {
  return join({"31", "1", under_mfk(s, "1PUDE000", kPinKey2Hex),
               under_mfk(s, "1PUEE000", kPinKey1Hex), kBlock2, kAccount});
}

void BM_EncipherPin(benchmark::State& state) {
  const Settings s = pin_settings();
  time_dispatch(state, s, join({"30", under_mfk(s, "1PUNE000", kPinKey1Hex), "1234", kAccount}));
}
BENCHMARK(BM_EncipherPin);

void BM_TranslatePinType1(benchmark::State& state) {
  const Settings s = pin_settings();
  time_dispatch(state, s, translate_type1(s));
}
BENCHMARK(BM_TranslatePinType1);

void BM_TranslatePinType1Uncached(benchmark::State& state) {
  const Settings s = pin_settings();
  time_dispatch_uncached(state, s, translate_type1(s));
}
BENCHMARK(BM_TranslatePinType1Uncached);

// Arg 0: single-length DUKPT, 1: double-length; KSN E00002 makes one key step.
void BM_TranslatePinType7(benchmark::State& state) {
  const Settings s = pin_settings();
  time_dispatch(
      state, s,
      join({"31", "7", under_mfk(s, "1dDNE000", kBdkHex), under_mfk(s, "1PUEE000", kPinKey1Hex),
            kBlock2, kAccount, kKsn2, state.range(0) ? "D" : "S"}));
}
BENCHMARK(BM_TranslatePinType7)->Arg(0)->Arg(1);

void BM_VerifyPinType1(benchmark::State& state) {
  const Settings s = pin_settings();
  time_dispatch(
      state, s,
      join({"32", "3", "1", kBlock1, under_mfk(s, "1PUDE000", kPinKey1Hex),
            under_mfk(s, "1VVNE000", kPvkHex), "", kPvv1234, "1", kPvvAccount, kAccount}));
}
BENCHMARK(BM_VerifyPinType1);

void BM_VerifyPinType7(benchmark::State& state) {
  const Settings s = pin_settings();
  time_dispatch(state, s,
                join({"32", "3", "7", kBlock2, under_mfk(s, "1dDNE000", kBdkHex),
                      under_mfk(s, "1VVNE000", kPvkHex), "", kPvv1234, "1", kPvvAccount, kAccount,
                      kKsn2, "D"}));
}
BENCHMARK(BM_VerifyPinType7);

void BM_ChangePin(benchmark::State& state) {
  const Settings s = pin_settings();
  time_dispatch(
      state, s,
      join({"37", "3", "1", kBlock1, under_mfk(s, "1PUDE000", kPinKey1Hex),
            under_mfk(s, "1VVNE000", kPvkHex), "", kPvv1234, "1", kPvvAccount, kBlock1, kAccount}));
}
BENCHMARK(BM_ChangePin);

void BM_DecipherPin(benchmark::State& state) {
  const Settings s = pin_settings();
  time_dispatch(state, s,
                join({"90", "1", kBlock1, under_mfk(s, "1PUDE000", kPinKey1Hex), kAccount}));
}
BENCHMARK(BM_DecipherPin);

// A full input buffer of command 31 type "1" lines cut, dispatched and
// queued, as one read from a pipelining client would deliver them.
void BM_FramingTranslatePinLines(benchmark::State& state) {
  int pair[2];
  socketpair(AF_UNIX, SOCK_STREAM, 0, pair);
  const Settings s = pin_settings();
  auto c = std::make_unique<Connection>();
  c->open(pair[0], s, {});
  const std::string line = translate_type1(s) + "\r\n";
  std::string lines;
  int per_buffer = 0;
  while (lines.size() + line.size() <= static_cast<size_t>(kInputCapacity)) {
    lines += line;
    ++per_buffer;
  }
  size_t before = allocation_count();
  for (auto _ : state) {
    c->on_received(lines, 0);
    benchmark::DoNotOptimize(c->pending_output().size());
    c->discard_output();
  }
  state.counters["allocs_per_request"] = static_cast<double>(allocation_count() - before) /
                                         static_cast<double>(state.iterations() * per_buffer);
  state.SetItemsProcessed(state.iterations() * per_buffer);
  close(pair[1]);  // closing the slot waits for the peer's end of the stream
  c->close(CloseCause::kPeerClosed);
}
BENCHMARK(BM_FramingTranslatePinLines);

}  // namespace
}  // namespace palisim::bench
