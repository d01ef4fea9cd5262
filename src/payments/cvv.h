// The card verification value algorithm (Visa CVV): card data digits packed
// into two blocks, enciphered under a card verification key, decimalised.
#pragma once

#include <array>
#include <string_view>

#include "crypto/key.h"

namespace palisim {

inline constexpr size_t kMaxCardDataLen = 32;

// 16 decimal characters and a NUL.
using CardVerificationDigits = std::array<char, 17>;

// digits: 1 to 32 decimal digits, padded on the right with zero digits to 32.
// key: 8, 16 or 24 bytes; its first 8 bytes (key A) encipher the first block,
// the whole key the combined block.
void card_verification_digits(std::string_view digits, const Key& key, CardVerificationDigits& out);

}  // namespace palisim
