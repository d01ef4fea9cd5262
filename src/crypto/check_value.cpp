#include "crypto/check_value.h"

#include "crypto/des.h"
#include "crypto/hex.h"

namespace palisim {

void key_check_value(const uint8_t* key, int32_t key_len, CheckValueText& out, bool long_form) {
  const uint8_t zeros[8] = {};
  uint8_t enciphered[8];
  encipher_block_by_key_length(key, key_len, zeros, enciphered);
  binary_to_hex(out.data(), enciphered, long_form ? 3 : 2);
}

}  // namespace palisim
