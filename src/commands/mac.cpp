#include "commands/mac.h"

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

KeyCipher::KeyCipher(const uint8_t* key, int32_t key_len) : single_(key_len == 8) {
  if (single_) {
    make_des_context(key, des_);
  } else if (key_len == 16) {
    make_two_key_triple_des_context(key, triple_);
  } else {
    make_three_key_triple_des_context(key, triple_);
  }
}

void KeyCipher::cbc_encipher(uint8_t cv[8], const uint8_t* in, uint8_t* out, int32_t len) const {
  if (single_) {
    des_cbc_encipher(des_, cv, in, out, len);
  } else {
    triple_des_cbc_encipher(triple_, cv, in, out, len);
  }
}

void KeyCipher::cbc_decipher(uint8_t cv[8], const uint8_t* in, uint8_t* out, int32_t len) const {
  if (single_) {
    des_cbc_decipher(des_, cv, in, out, len);
  } else {
    triple_des_cbc_decipher(triple_, cv, in, out, len);
  }
}

void compute_mac(int32_t algorithm, const Key& key, uint8_t cv[8], const uint8_t* data,
                 int32_t len) {
  int32_t head = algorithm == kRetailMacAlgorithm ? len - 8 : 0;
  if (head > 0) cbc_mac_blocks(KeyCipher(key.bytes.data(), 8), cv, data, head);
  cbc_mac_blocks(KeyCipher(key), cv, data + head, len - head);
}

}  // namespace palisim
