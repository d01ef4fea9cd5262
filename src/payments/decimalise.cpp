#include "payments/decimalise.h"

#include "payments/pin_block.h"

namespace palisim {

void decimalise_block(const uint8_t block[8], std::span<char> digits) {
  constexpr int kNibbles = 16;
  size_t n = 0;
  for (int i = 0; i < kNibbles && n < digits.size(); ++i) {
    const uint8_t v = get_nibble(block, i);
    if (v <= 9) digits[n++] = static_cast<char>('0' + v);
  }
  for (int i = 0; i < kNibbles && n < digits.size(); ++i) {
    const uint8_t v = get_nibble(block, i);
    if (v > 9) digits[n++] = static_cast<char>('0' + v - 10);
  }
}

}  // namespace palisim
