// Bytes as hex text and back, for writing expected values in the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "crypto/hex.h"

namespace palisim::testing {

// Two uppercase digits per byte.
inline std::string to_hex(const uint8_t* bytes, size_t n) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(2 * n);
  for (size_t i = 0; i < n; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

inline std::string to_hex(std::string_view bytes) {
  return to_hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// The bytes of a hex text of either case; an odd last digit is dropped.
inline std::string bytes_from_hex(const std::string& hex) {
  std::string out(hex.size() / 2, '\0');
  hex_to_binary(reinterpret_cast<uint8_t*>(out.data()), hex.data(), hex.size());
  return out;
}

}  // namespace palisim::testing
