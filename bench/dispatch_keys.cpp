// The key management commands through dispatch_request, without a network:
// time per command, and allocations per request (expected 0).
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "crypto/des.h"
#include "crypto/hex.h"
#include "crypto/key_block.h"
#include "crypto/key_variant.h"
#include "dispatch/command_table.h"
#include "dispatch_timing.h"
#include "server/connection.h"

namespace palisim::bench {
namespace {

constexpr char kMfkHex[] = "0123456789ABCDEFFEDCBA987654321089ABCDEF01234567";
constexpr char kKekHex[] = "1F2E3D4C5B6A79880817263544536271";
constexpr char kKeyHex[] = "0123456789ABCDEFFEDCBA9876543210";

// A device with the MFK loaded that lets 'P' keys out (11, 1A) and in (13).
Settings key_settings() {
  Settings s;
  hex_to_binary(s.mfk.data(), kMfkHex, sizeof kMfkHex - 1);
  s.mfk_len = 24;
  s.mfk_present = 1;
  s.opte0[0] = 'P';
  s.opte1[0] = 'P';
  return s;
}

std::string block(const uint8_t* wrapping_key, int32_t wrapping_key_len, const char* header,
                  const char* key_hex) {
  uint8_t key[24];
  hex_to_binary(key, key_hex, std::strlen(key_hex));
  KeyBlockText out;
  build_key_block(wrapping_key, wrapping_key_len, header, key,
                  static_cast<int32_t>(std::strlen(key_hex) / 2), out);
  return out.data();
}

std::string under_kek(const char* header, const char* key_hex) {
  uint8_t kek[16];
  hex_to_binary(kek, kKekHex, 32);
  return block(kek, 16, header, key_hex);
}

// The working key enciphered part by part under variant 5 of the KEK.
std::string variant_text() {
  uint8_t kek[16], key[16];
  hex_to_binary(kek, kKekHex, 32);
  hex_to_binary(key, kKeyHex, 32);
  apply_key_variant(5, kek, 16);
  encipher_block_by_key_length(kek, 16, key, key);
  encipher_block_by_key_length(kek, 16, key + 8, key + 8);
  char text[33];
  binary_to_hex(text, key, 16);
  return text;
}

const Settings kSettings = key_settings();
const std::string kKek = under_mfk(kSettings, "1KDEE000", kKekHex);

void dispatch_command(benchmark::State& state, const std::string& request) {
  time_dispatch(state, kSettings, request);
}

BENCHMARK_CAPTURE(dispatch_command, generate_10, std::string("<10#1PUEE000##D#>"))
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(dispatch_command, generate_10_with_kek, "<10#1PUEE000#" + kKek + "#D#>")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(dispatch_command, translate_to_kek_11,
                  "<11##" + kKek + "#" + under_mfk(kSettings, "1PUEE000", kKeyHex) + "#>")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(dispatch_command, translate_from_kek_13,
                  "<13##" + kKek + "#" + under_kek("1PUDE000", kKeyHex) + "#>")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(dispatch_command, export_variant_1A,
                  "<1A#5#" + kKek + "#" + under_mfk(kSettings, "1PUEE000", kKeyHex) + "#>")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(dispatch_command, import_variant_11B,
                  "<11B#5#" + variant_text() + "#" + under_mfk(kSettings, "1KDNN0K0", kKekHex) +
                      "#>")
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace palisim::bench
