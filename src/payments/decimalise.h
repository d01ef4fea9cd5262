// Decimalisation as the Visa CVV and PVV algorithms use it.
#pragma once

#include <cstdint>
#include <span>

namespace palisim {

// Fills `digits` from the 16 nibbles of an enciphered block: the nibbles 0 to
// 9 in order, then, while room is left, the nibbles A to F in order as 0 to 5.
void decimalise_block(const uint8_t block[8], std::span<char> digits);

}  // namespace palisim
