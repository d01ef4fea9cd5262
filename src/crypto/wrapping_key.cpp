#include "crypto/wrapping_key.h"

#include <cassert>
#include <cstring>

namespace palisim {

namespace {

void derive_block_key(const uint8_t* wrapping_key, int32_t wrapping_key_len, uint8_t mask,
                      uint8_t out[24]) {
  assert(wrapping_key_len == 8 || wrapping_key_len == 16 || wrapping_key_len == 24);
  for (int32_t i = 0; i < wrapping_key_len; ++i)
    out[i] = wrapping_key[i] ^ mask;
  expand_key_to_triple_length(out, wrapping_key_len);
}

}  // namespace

void expand_key_to_triple_length(uint8_t key[24], int32_t key_len) {
  if (key_len == 8) {
    std::memcpy(key + 8, key, 8);
    std::memcpy(key + 16, key, 8);
  } else if (key_len == 16) {
    std::memcpy(key + 16, key, 8);
  }
}

void block_encryption_key(const uint8_t* wrapping_key, int32_t wrapping_key_len, uint8_t out[24]) {
  derive_block_key(wrapping_key, wrapping_key_len, 'E', out);
}

void block_mac_key(const uint8_t* wrapping_key, int32_t wrapping_key_len, uint8_t out[24]) {
  derive_block_key(wrapping_key, wrapping_key_len, 'M', out);
}

}  // namespace palisim
