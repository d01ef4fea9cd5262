// The Visa PIN verification value: four decimal digits from account digits,
// a key index and the first four PIN digits under a PIN verification key.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "crypto/key_cipher.h"

namespace palisim {

inline constexpr size_t kPvvLen = 4;
inline constexpr size_t kPvvAccountLen = 11;
inline constexpr int kMaxPvkIndex = 6;

// Four digits and a NUL.
using Pvv = std::array<char, kPvvLen + 1>;

// account holds 11 decimal digits, pvk_index is 0 to 6 and pin at least four
// decimal digits (checked by the caller). pvk is the PIN verification key's
// cipher.
void compute_pvv(std::string_view account, int pvk_index, std::string_view pin,
                 const KeyCipher& pvk, Pvv& pvv);

}  // namespace palisim
