#include "payments/mac.h"

namespace palisim {

namespace {

// CBC whose ciphertext is dropped block by block; only the chaining value,
// which ends as the last ciphertext block, is kept.
void cbc_mac_blocks(const KeyCipher& cipher, uint8_t cv[8], const uint8_t* data, int32_t len) {
  uint8_t dropped[8];
  for (int32_t at = 0; at < len; at += 8)
    cipher.cbc_encipher(cv, data + at, dropped, 8);
}

}  // namespace

void compute_mac(int32_t algorithm, const ReadyKey& key, uint8_t cv[8], const uint8_t* data,
                 int32_t len) {
  int32_t head = algorithm == kRetailMacAlgorithm ? len - 8 : 0;
  if (head > 0) cbc_mac_blocks(KeyCipher(key.key.bytes.data(), 8), cv, data, head);
  cbc_mac_blocks(key.cipher, cv, data + head, len - head);
}

}  // namespace palisim
