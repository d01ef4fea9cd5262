#include "commands/cvv.h"

#include <cstdint>

#include "crypto/des.h"

namespace palisim {

void card_verification_digits(std::string_view digits, const Key& key,
                              CardVerificationDigits& out) {
  uint8_t packed[16] = {};
  for (size_t i = 0; i < digits.size() && i < kMaxCardDataLen; ++i) {
    auto nibble = static_cast<uint8_t>(digits[i] - '0');
    packed[i / 2] |= static_cast<uint8_t>(i % 2 == 0 ? nibble << 4 : nibble);
  }
  uint8_t block[8];
  encipher_block_by_key_length(key.bytes.data(), 8, packed, block);
  for (int i = 0; i < 8; ++i)
    block[i] ^= packed[8 + i];
  encipher_block_by_key_length(key.bytes.data(), key.len, block, block);

  // Decimal digits first, in order; then the letters A to F as 0 to 5.
  size_t n = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < 16; ++i) {
      int nibble = i % 2 == 0 ? block[i / 2] >> 4 : block[i / 2] & 0x0F;
      if (pass == 0 && nibble < 10) out[n++] = static_cast<char>('0' + nibble);
      if (pass == 1 && nibble >= 10) out[n++] = static_cast<char>('0' + nibble - 10);
    }
  }
  out[n] = '\0';
}

}  // namespace palisim
