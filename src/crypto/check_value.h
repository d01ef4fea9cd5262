// Key check values, which most key-handling replies carry.
#pragma once

#include <array>
#include <cstdint>

namespace palisim {

// Four or six hex digits and a NUL.
using CheckValueText = std::array<char, 7>;

// The first 2 bytes (3 with long_form, the opt88 setting) of the key's
// encipherment of eight zero bytes, as uppercase hex. The key length selects
// the cipher as encipher_block_by_key_length does.
void key_check_value(const uint8_t* key, int32_t key_len, CheckValueText& out, bool long_form);

}  // namespace palisim
