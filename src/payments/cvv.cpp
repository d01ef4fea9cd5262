#include "payments/cvv.h"

#include <cstdint>

#include "crypto/des.h"
#include "payments/decimalise.h"

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

  // All 16 nibbles become digits.
  decimalise_block(block, {out.data(), out.size() - 1});
  out[out.size() - 1] = '\0';
}

}  // namespace palisim
