// The keys that actually encipher and authenticate a key block, derived from
// the key it is wrapped under (the MFK or a KEK).
#pragma once

#include <cstdint>

namespace palisim {

// The MFK always wraps as its whole 24-byte buffer, whatever length it was
// configured with: a double-length MFK wraps as K1 K2 00..00, not K1 K2 K1.
inline constexpr int32_t kMfkWrappingLen = 24;

// In place: length 8 becomes K1 K1 K1, length 16 K1 K2 K1; any other length
// leaves the buffer as it is.
void expand_key_to_triple_length(uint8_t key[24], int32_t key_len);

// Each byte of the wrapping key XOR 'E' (block_encryption_key) or 'M'
// (block_mac_key), expanded to 24 bytes. Both are three-key triple-DES keys.
// wrapping_key_len is 8, 16 or 24.
void block_encryption_key(const uint8_t* wrapping_key, int32_t wrapping_key_len, uint8_t out[24]);
void block_mac_key(const uint8_t* wrapping_key, int32_t wrapping_key_len, uint8_t out[24]);

}  // namespace palisim
