// Lookup tables of the DES key schedule, derived at compile time from the
// FIPS 46-3 tables in des_tables.h. Only des.cpp includes this file (and the
// test that derives the tables again bit by bit).
//
// Internal conventions shared with des.cpp:
// - PC-1 gives C in bits 55..28 and D in bits 27..0 of a 64-bit value, the
//   first bit of each (C1, D1) the most significant.
// - des.cpp holds each half twice over (C << 28 | C): C rotated left by t is
//   then the 28-bit field at bit 28 - t, so any round's C and D come from
//   one shift, with no chain of rotations.
// - A round key leaves the PC-2 tables as the 64-bit value that, stored in
//   native byte order, fills its two words: word 0 (S1, S3, S5, S7) first.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "crypto/des_tables.h"

namespace palisim::des_detail {

// Total left shift of C and D before each round: the running sum of the
// FIPS 46-3 schedule of left shifts.
constexpr std::array<int, 16> make_total_shifts() {
  std::array<int, 16> t{};
  int sum = 0;
  for (int i = 0; i < 16; ++i) {
    sum += kShifts[i];
    t[i] = sum;
  }
  return t;
}
inline constexpr std::array<int, 16> kTotalShifts = make_total_shifts();
static_assert(kTotalShifts[15] == 28, "C and D come back to C0 and D0 after the last round");

// FIPS 46-3 permuted choice 1 split by key nibble: kPc1Nibbles[n][v] is the
// contribution to C << 28 | D of key bits 4n+1..4n+4 having the value v
// (the first of them as the high bit of v). Parity bits contribute nothing.
using Pc1Tables = std::array<std::array<uint64_t, 16>, 16>;

constexpr Pc1Tables make_pc1_tables() {
  Pc1Tables t{};
  for (int n = 0; n < 16; ++n) {
    for (int v = 0; v < 16; ++v) {
      uint64_t out = 0;
      for (int i = 0; i < 56; ++i) {
        int src = kPc1[i] - 1;  // 0..63, key bit 1 first
        if (src / 4 == n && (v & (8 >> (src % 4))) != 0) out |= uint64_t{1} << (55 - i);
      }
      t[n][v] = out;
    }
  }
  return t;
}
inline constexpr Pc1Tables kPc1Nibbles = make_pc1_tables();

// Where round-key bit i (1..48, FIPS order) goes in the stored 64-bit form
// (see the round-key layout in des_tables.h).
constexpr uint64_t round_key_bit(int i) {
  int box = (i - 1) / 6;  // 0..7 for S1..S8
  int bit_in_box = 5 - (i - 1) % 6;
  int field = 24 - 8 * (box / 2);  // S1/S2 in the top field, S7/S8 in the bottom
  bool word0 = box % 2 == 0;
  bool word0_low = std::endian::native == std::endian::little;
  int word_shift = word0 == word0_low ? 0 : 32;
  return uint64_t{1} << (word_shift + field + bit_in_box);
}

// FIPS 46-3 permuted choice 2 split by input: kPc2C[q][v] is the round-key
// contribution of bits 7q+1..7q+7 of the rotated C having the value v (its
// first bit as the high bit of v); kPc2D the same for D.
using Pc2Tables = std::array<std::array<uint64_t, 128>, 4>;

constexpr Pc2Tables make_pc2_tables(bool for_d) {
  Pc2Tables t{};
  for (int q = 0; q < 4; ++q) {
    for (int v = 0; v < 128; ++v) {
      uint64_t out = 0;
      for (int i = 1; i <= 48; ++i) {
        int src = kPc2[i - 1] - (for_d ? 28 : 0);  // 1..28 within the half
        if (src < 1 || src > 28 || (src - 1) / 7 != q) continue;
        if (v & (0x40 >> ((src - 1) % 7))) out |= round_key_bit(i);
      }
      t[q][v] = out;
    }
  }
  return t;
}
inline constexpr Pc2Tables kPc2C = make_pc2_tables(false);
inline constexpr Pc2Tables kPc2D = make_pc2_tables(true);

}  // namespace palisim::des_detail
