// Random 8-byte blocks for new keys and IVs, and the zero block.
#pragma once

#include <cstdint>

namespace palisim {

// 8 bytes from the kernel's random source; falls back to the MD5 form below
// when the source fails. Bytes are used as drawn (no parity, no weak-key screen).
void random_block(uint8_t out[8]);

// MD5 over the time in seconds and the next value of a per-thread linear
// congruential generator (state starts at 1); the first 8 digest bytes.
void fallback_random_block(uint8_t out[8]);

// Told the first time random_block falls back, with one line saying so. The
// program hands the line to its diagnostics; without a notice it goes to
// standard error.
using RandomFallbackNotice = void (*)(const char* line);
void set_random_fallback_notice(RandomFallbackNotice notice);

void zero_block(uint8_t out[8]);

}  // namespace palisim
