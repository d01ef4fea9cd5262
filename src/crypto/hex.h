// Hex text <-> bytes and the digit tests that request fields go through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace palisim {

// Writes 2n uppercase hex digits and a NUL at out[2n].
void binary_to_hex(char* out, const uint8_t* bytes, size_t n);

// Writes n/2 bytes from n characters; an odd last character is ignored. The
// characters are not checked: a non-hex character yields the byte that the
// 8-bit arithmetic of the conversion gives.
void hex_to_binary(uint8_t* out, const char* hex, size_t n);

// True when every character is '0'-'9' (true for an empty text).
bool all_decimal_digits(std::string_view text);

// True when every character is '0'-'9', 'A'-'F' or 'a'-'f' (true for an empty text).
bool all_hex_digits(std::string_view text);

}  // namespace palisim
