// A DES key with its length, as commands hold working keys and KEKs.
#pragma once

#include <array>
#include <cstdint>

#include "crypto/secure_zero.h"

namespace palisim {

inline constexpr int32_t kMaxKeyLen = 24;

// 8 (single DES), 16 (two-key) or 24 (three-key triple-DES) bytes at the
// start of a 24-byte buffer. Wiped when it goes out of scope.
struct Key {
  std::array<uint8_t, kMaxKeyLen> bytes{};  // the key, then unused bytes
  int32_t len = 0;                          // bytes in use: 8, 16 or 24

  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() { secure_zero(bytes.data(), bytes.size()); }
};

}  // namespace palisim
