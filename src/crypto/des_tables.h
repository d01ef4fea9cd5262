// Constant tables of DES (FIPS 46-3) and the S-box tables derived from them
// at compile time; des_key_schedule_tables.h derives the key schedule's.
// Only des.cpp includes these files (and the test that derives the lookup
// tables again bit by bit).
//
// Internal conventions shared with des.cpp:
// - A 32-bit half holds bit 1 of FIPS numbering in its most significant bit.
// - Between the initial and final permutations both halves are kept rotated
//   left by one bit. Then the eight 6-bit S-box inputs of the expansion E
//   are plain byte fields: S2, S4, S6, S8 in bits 24..29, 16..21, 8..13,
//   0..5 of the half, S1, S3, S5, S7 in the same fields of the half rotated
//   right by four.
// - A round key is two words in that layout: word 0 holds the key bits for
//   S1, S3, S5, S7, word 1 those for S2, S4, S6, S8.
#pragma once

#include <array>
#include <cstdint>

namespace palisim::des_detail {

// FIPS 46-3 primitive functions S1..S8: [box][row][column].
inline constexpr uint8_t kSBoxes[8][4][16] = {
    {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
     {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
     {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
     {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
    {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
     {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
     {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
     {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
    {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
     {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
     {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
     {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
    {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
     {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
     {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
     {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
    {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
     {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
     {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
     {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
    {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
     {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
     {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
     {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
    {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
     {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
     {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
     {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
    {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
     {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
     {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
     {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}},
};

// FIPS 46-3 permutation function P.
inline constexpr uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                   2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

// FIPS 46-3 permuted choice 1: C0 from the first 28 entries, D0 from the rest.
inline constexpr uint8_t kPc1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                                     10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                                     63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                                     14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

// FIPS 46-3 permuted choice 2: the first 24 entries draw on C, the rest on D.
inline constexpr uint8_t kPc2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

// FIPS 46-3 schedule of left shifts of C and D, one entry per round.
inline constexpr uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// A slip in typing the tables above would not show until a known answer
// failed; these catch the structural ones at compile time.
constexpr bool sbox_rows_are_permutations() {
  for (const auto& box : kSBoxes) {
    for (const auto& row : box) {
      unsigned seen = 0;
      for (uint8_t v : row)
        seen |= 1u << v;
      if (seen != 0xFFFF) return false;
    }
  }
  return true;
}
static_assert(sbox_rows_are_permutations());

constexpr bool p_is_permutation() {
  uint64_t seen = 0;
  for (uint8_t v : kP)
    seen |= uint64_t{1} << v;
  return seen == 0x1FFFFFFFEull;
}
static_assert(p_is_permutation());

constexpr bool pc1_skips_parity_bits() {
  uint64_t seen = 0;
  for (uint8_t v : kPc1) {
    if (v < 1 || v > 64 || v % 8 == 0) return false;
    seen |= uint64_t{1} << (v - 1);
  }
  return seen == 0x7F7F7F7F7F7F7F7Full;
}
static_assert(pc1_skips_parity_bits());

constexpr bool pc2_halves_are_separate() {
  uint64_t seen = 0;
  for (int i = 0; i < 48; ++i) {
    uint8_t v = kPc2[i];
    if (i < 24 ? (v < 1 || v > 28) : (v < 29 || v > 56)) return false;
    seen |= uint64_t{1} << (v - 1);
  }
  return __builtin_popcountll(seen) == 48;
}
static_assert(pc2_halves_are_separate());

constexpr uint32_t rotl32(uint32_t v, int n) {
  return (v << n) | (v >> ((32 - n) & 31));
}

// S-box j merged with P: entry x is P applied to Sj(x) in its output nibble,
// rotated left by one to match the halves. Row from bits 1 and 6 of the
// input, column from bits 2 to 5.
using SpTables = std::array<std::array<uint32_t, 64>, 8>;

constexpr SpTables make_sp_tables() {
  SpTables sp{};
  for (int j = 0; j < 8; ++j) {
    for (int x = 0; x < 64; ++x) {
      int row = ((x >> 4) & 2) | (x & 1);
      int col = (x >> 1) & 0xF;
      uint32_t before_p = uint32_t{kSBoxes[j][row][col]} << (28 - 4 * j);
      uint32_t after_p = 0;
      for (int i = 0; i < 32; ++i) {
        if (before_p & (0x80000000u >> (kP[i] - 1))) after_p |= 0x80000000u >> i;
      }
      sp[j][x] = rotl32(after_p, 1);
    }
  }
  return sp;
}
inline constexpr SpTables kSp = make_sp_tables();

}  // namespace palisim::des_detail
