// CBC under a working key of any length, and the MACs built on it.
#pragma once

#include <cstdint>
#include <string_view>

#include "crypto/key_cache.h"

namespace palisim {

inline constexpr int32_t kMaxMacAlgorithm = 7;
inline constexpr int32_t kDefaultMacAlgorithm = 1;
// ANSI X9.19: single DES under the key's first 8 bytes, the whole key for the
// last block only.
inline constexpr int32_t kRetailMacAlgorithm = 7;

// The MAC of len bytes (a positive multiple of 8) by algorithm 0 to 7. cv
// holds the chaining value on entry and the MAC on return, which is also the
// chaining value that continues the message in a later request.
void compute_mac(int32_t algorithm, const ReadyKey& key, uint8_t cv[8], const uint8_t* data,
                 int32_t len);

}  // namespace palisim
