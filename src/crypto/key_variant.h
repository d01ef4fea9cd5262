// Numbered key variants, the form in which commands 1A and 11B use a KEK.
#pragma once

#include <cstdint>

namespace palisim {

// XORs variant << 3 (within one byte) into the first byte of each 8-byte
// part of the key. Variants 0..31 touch only the five high bits, so parity
// bits stay as they were; variant 0 changes nothing, and applying the same
// variant twice restores the key.
void apply_key_variant(int32_t variant, uint8_t* key, int32_t key_len);

}  // namespace palisim
