#include "crypto/hex.h"

namespace palisim {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The value of one hex character in 8-bit arithmetic: exact for hex digits,
// and a defined byte for anything else.
inline int8_t nibble_value(char c) {
  auto v = static_cast<int8_t>((static_cast<uint8_t>(c) & 0x5F) - 0x10);
  if (v > 9) v = static_cast<int8_t>(v - 0x27);
  return v;
}

}  // namespace

void binary_to_hex(char* out, const uint8_t* bytes, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    out[2 * i] = kHexDigits[bytes[i] >> 4];
    out[2 * i + 1] = kHexDigits[bytes[i] & 0x0F];
  }
  out[2 * n] = '\0';
}

void hex_to_binary(uint8_t* out, const char* hex, size_t n) {
  for (size_t i = 0; i + 1 < n; i += 2) {
    auto hi = static_cast<uint8_t>(nibble_value(hex[i]));
    auto lo = static_cast<uint8_t>(nibble_value(hex[i + 1]));
    out[i / 2] = static_cast<uint8_t>((hi << 4) | lo);
  }
}

bool all_decimal_digits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Without an early exit or a branch per character the loop vectorizes: key
// blocks make this check hot, and their digits and letters come in no
// predictable order.
bool all_hex_digits(std::string_view text) {
  uint8_t bad = 0;
  for (char c : text) {
    const auto digit = static_cast<uint8_t>(c - '0');
    const auto letter = static_cast<uint8_t>((c | 0x20) - 'a');  // either case
    bad |= static_cast<uint8_t>((digit > 9) & (letter > 5));
  }
  return bad == 0;
}

}  // namespace palisim
