// Where one connection's random values come from. Unseeded: new keys and IVs
// from the kernel (random_block), shares and delays from a fast generator.
// Seeded: both from one HMAC-DRBG instantiated with the seed, so the same
// requests on a connection draw the same values in every run.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "crypto/hmac_drbg.h"

namespace palisim {

// A seed as given: 8 to 32 bytes (16 to 64 hex digits).
struct RandomSeed {
  static constexpr size_t kMinLen = 8;
  static constexpr size_t kMaxLen = 32;
  std::array<uint8_t, kMaxLen> bytes{};
  size_t len = 0;  // 0: no seed

  bool empty() const { return len == 0; }
  std::span<const uint8_t> view() const { return {bytes.data(), len}; }
};

// Reads 16 to 64 hex digits (an even count, either case); false for anything else.
bool parse_random_seed(std::span<const char> hex, RandomSeed& seed);

// The next value of a splitmix64 generator, whose every state is a valid
// start: fast, and fair enough for shares and delays (not for keys).
uint64_t next_random(uint64_t& state);

class RandomSource {
 public:
  // Keys from the kernel; draws from a generator started at `state`.
  void use_kernel(uint64_t state);
  // Everything from the DRBG, instantiated afresh with the seed.
  void use_seed(const RandomSeed& seed);
  bool seeded() const { return seeded_; }

  // 8 bytes for a key or an IV.
  void block(uint8_t out[8]);
  // 64 bits for a share or a delay.
  uint64_t draw();

 private:
  HmacDrbg drbg_;
  uint64_t state_ = 0;
  bool seeded_ = false;
};

// This thread's unseeded source, for callers outside a connection.
RandomSource& thread_random_source();

}  // namespace palisim
