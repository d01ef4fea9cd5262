#include "crypto/key_variant.h"

namespace palisim {

void apply_key_variant(int32_t variant, uint8_t* key, int32_t key_len) {
  auto m = static_cast<uint8_t>(variant << 3);
  key[0] ^= m;
  if (key_len > 8) key[8] ^= m;
  if (key_len > 16) key[16] ^= m;
}

}  // namespace palisim
