#include "payments/pvv.h"

#include "crypto/secure_zero.h"
#include "payments/decimalise.h"
#include "payments/pin_block.h"

namespace palisim {

void compute_pvv(std::string_view account, int pvk_index, std::string_view pin,
                 const KeyCipher& pvk, Pvv& pvv) {
  // Account digits, key index and first four PIN digits fill all 16 nibbles.
  Wiped<PinBlock> block;
  uint8_t* b = block.value.data();
  for (size_t i = 0; i < kPvvAccountLen; ++i)
    set_nibble(b, static_cast<int>(i), static_cast<uint8_t>(account[i] - '0'));
  set_nibble(b, kPvvAccountLen, static_cast<uint8_t>(pvk_index));
  for (size_t i = 0; i < kPvvLen; ++i)
    set_nibble(b, static_cast<int>(kPvvAccountLen + 1 + i), static_cast<uint8_t>(pin[i] - '0'));
  pvk.encipher_block(b, b);

  // The first four digits; A to F count only when fewer than four nibbles are decimal.
  decimalise_block(b, {pvv.data(), kPvvLen});
  pvv[kPvvLen] = '\0';
}

}  // namespace palisim
