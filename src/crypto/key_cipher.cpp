#include "crypto/key_cipher.h"

namespace palisim {

KeyCipher::KeyCipher(const uint8_t* key, int32_t key_len) : single_(key_len == 8) {
  if (single_) {
    make_des_context(key, des_);
  } else if (key_len == 16) {
    make_two_key_triple_des_context(key, triple_);
  } else {
    make_three_key_triple_des_context(key, triple_);
  }
}

void KeyCipher::encipher_block(const uint8_t in[8], uint8_t out[8]) const {
  if (single_) {
    des_encipher_block(des_, in, out);
  } else {
    triple_des_encipher_block(triple_, in, out);
  }
}

void KeyCipher::decipher_block(const uint8_t in[8], uint8_t out[8]) const {
  if (single_) {
    des_decipher_block(des_, in, out);
  } else {
    triple_des_decipher_block(triple_, in, out);
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

}  // namespace palisim
