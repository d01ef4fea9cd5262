#include "crypto/random_source.h"

#include "crypto/hex.h"
#include "crypto/random.h"

namespace palisim {

bool parse_random_seed(std::span<const char> hex, RandomSeed& seed) {
  if (hex.size() < 2 * RandomSeed::kMinLen || hex.size() > 2 * RandomSeed::kMaxLen ||
      hex.size() % 2 != 0 || !all_hex_digits({hex.data(), hex.size()})) {
    return false;
  }
  hex_to_binary(seed.bytes.data(), hex.data(), hex.size());
  seed.len = hex.size() / 2;
  return true;
}

uint64_t next_random(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
  return z ^ (z >> 31);
}

void RandomSource::use_kernel(uint64_t state) {
  seeded_ = false;
  state_ = state;
}

void RandomSource::use_seed(const RandomSeed& seed) {
  seeded_ = true;
  drbg_.instantiate(seed.view());
}

void RandomSource::block(uint8_t out[8]) {
  if (seeded_) {
    drbg_.generate({out, 8});
  } else {
    random_block(out);
  }
}

uint64_t RandomSource::draw() {
  if (!seeded_) return next_random(state_);
  uint8_t bytes[8];
  drbg_.generate(bytes);
  uint64_t value = 0;
  for (uint8_t b : bytes)
    value = value << 8 | b;
  return value;
}

RandomSource& thread_random_source() {
  thread_local RandomSource source;
  return source;
}

}  // namespace palisim
