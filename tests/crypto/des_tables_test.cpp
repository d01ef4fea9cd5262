// The lookup tables of des_tables.h and des_key_schedule_tables.h derived
// again bit by bit from the FIPS 46-3 tables, in the plain way the standard
// states them, and the table-driven key schedule against that derivation.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crypto/des.h"
#include "crypto/des_key_schedule_tables.h"
#include "crypto/des_tables.h"
#include "hex_text.h"

namespace palisim {
namespace {

using des_detail::kP;
using des_detail::kPc1;
using des_detail::kPc2;
using des_detail::kSBoxes;
using des_detail::kShifts;

// A string of FIPS bits, bit 1 at index 0.
template <size_t N>
using Bits = std::array<uint8_t, N>;

Bits<64> key_bits(const uint8_t key[8]) {
  Bits<64> b{};
  for (int i = 0; i < 64; ++i)
    b[i] = (key[i / 8] >> (7 - i % 8)) & 1;
  return b;
}

// C and D after PC-1: C bits 1..28 at 0..27, D bits 1..28 at 28..55.
Bits<56> pc1(const Bits<64>& key) {
  Bits<56> cd{};
  for (int i = 0; i < 56; ++i)
    cd[i] = key[kPc1[i] - 1];
  return cd;
}

// The 16 round keys K1..K16 of FIPS 46-3, 48 bits each.
std::array<Bits<48>, 16> fips_round_keys(const uint8_t key[8]) {
  Bits<56> cd = pc1(key_bits(key));
  std::array<Bits<48>, 16> ks{};
  for (int round = 0; round < 16; ++round) {
    for (int s = 0; s < kShifts[round]; ++s) {
      Bits<56> next = cd;
      for (int i = 0; i < 28; ++i) {
        next[i] = cd[(i + 1) % 28];
        next[28 + i] = cd[28 + (i + 1) % 28];
      }
      cd = next;
    }
    for (int i = 0; i < 48; ++i)
      ks[round][i] = cd[kPc2[i] - 1];
  }
  return ks;
}

// A round key in the two words the round function reads: the six bits for
// S1, S3, S5, S7 in bits 24..29, 16..21, 8..13, 0..5 of word 0, those for
// S2, S4, S6, S8 in the same fields of word 1, the first bit highest.
std::array<uint32_t, 2> round_key_words(const Bits<48>& k) {
  std::array<uint32_t, 2> w{};
  for (int box = 0; box < 8; ++box) {
    uint32_t six = 0;
    for (int i = 0; i < 6; ++i)
      six = six << 1 | k[6 * box + i];
    w[box % 2] |= six << (24 - 8 * (box / 2));
  }
  return w;
}

std::string describe(const uint8_t key[8]) {
  return "key " + testing::to_hex(key, 8);
}

TEST(DesKeySchedule, RoundKeysAreThoseOfFips46) {
  std::mt19937 gen(463);
  std::vector<std::array<uint8_t, 8>> keys = {
      {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1},  // the worked example key
      {0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01},
      {0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE},
      {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
  };
  // One key per key bit, that bit alone set: shows where each bit lands.
  for (int bit = 0; bit < 64; ++bit) {
    std::array<uint8_t, 8> k{};
    k[bit / 8] = static_cast<uint8_t>(0x80 >> (bit % 8));
    keys.push_back(k);
  }
  for (int i = 0; i < 2000; ++i) {
    std::array<uint8_t, 8> k;
    for (auto& b : k)
      b = static_cast<uint8_t>(gen());
    keys.push_back(k);
  }

  for (const auto& key : keys) {
    SCOPED_TRACE(describe(key.data()));
    auto want = fips_round_keys(key.data());
    DesContext ctx;
    make_des_context(key.data(), ctx);
    for (int round = 0; round < 16; ++round) {
      auto words = round_key_words(want[round]);
      ASSERT_EQ(ctx.k[round][0], words[0]) << "enciphering round " << round + 1;
      ASSERT_EQ(ctx.k[round][1], words[1]) << "enciphering round " << round + 1;
      ASSERT_EQ(ctx.k[31 - round][0], words[0]) << "deciphering entry of round " << round + 1;
      ASSERT_EQ(ctx.k[31 - round][1], words[1]) << "deciphering entry of round " << round + 1;
    }
  }
}

// K1 and K16 of the widely published worked example of DES (J. Orlin
// Grabbe, "The DES Algorithm Illustrated"), key 133457799BBCDFF1.
TEST(DesKeySchedule, WorkedExampleFirstAndLastRoundKeys) {
  const uint8_t key[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
  const char* k1 = "000110110000001011101111111111000111000001110010";
  const char* k16 = "110010110011110110001011000011100001011111110101";
  Bits<48> b1{}, b16{};
  for (int i = 0; i < 48; ++i) {
    b1[i] = static_cast<uint8_t>(k1[i] - '0');
    b16[i] = static_cast<uint8_t>(k16[i] - '0');
  }
  auto ks = fips_round_keys(key);
  EXPECT_EQ(ks[0], b1);
  EXPECT_EQ(ks[15], b16);
  DesContext ctx;
  make_des_context(key, ctx);
  auto w1 = round_key_words(b1);
  auto w16 = round_key_words(b16);
  EXPECT_EQ(ctx.k[0][0], w1[0]);
  EXPECT_EQ(ctx.k[0][1], w1[1]);
  EXPECT_EQ(ctx.k[15][0], w16[0]);
  EXPECT_EQ(ctx.k[15][1], w16[1]);
}

TEST(DesKeyScheduleTables, TotalShiftsAreTheRunningSumOfTheShiftSchedule) {
  int sum = 0;
  for (int round = 0; round < 16; ++round) {
    sum += kShifts[round];
    EXPECT_EQ(des_detail::kTotalShifts[round], sum) << "round " << round + 1;
  }
}

// Entry [n][v]: PC-1 of a key whose only set bits are nibble n holding v.
TEST(DesKeyScheduleTables, Pc1NibbleTablesArePc1OfEachNibble) {
  for (int n = 0; n < 16; ++n) {
    for (int v = 0; v < 16; ++v) {
      uint8_t key[8] = {};
      key[n / 2] = static_cast<uint8_t>(n % 2 == 0 ? v << 4 : v);
      Bits<56> cd = pc1(key_bits(key));
      uint64_t want = 0;
      for (int i = 0; i < 56; ++i)
        want = want << 1 | cd[i];
      EXPECT_EQ(des_detail::kPc1Nibbles[n][v], want) << "nibble " << n << ", value " << v;
    }
  }
}

// The stored 64-bit form of the round-key words: word 0 at the lower address.
uint64_t stored_form(const std::array<uint32_t, 2>& w) {
  uint32_t mem[2] = {w[0], w[1]};
  uint64_t v;
  std::memcpy(&v, mem, sizeof v);
  return v;
}

// Entry [q][v]: PC-2 of a C (or D) whose only set bits are 7q+1..7q+7
// holding v, the other half all zero.
TEST(DesKeyScheduleTables, Pc2TablesArePc2OfEachSevenBitGroup) {
  for (bool for_d : {false, true}) {
    const auto& table = for_d ? des_detail::kPc2D : des_detail::kPc2C;
    for (int q = 0; q < 4; ++q) {
      for (int v = 0; v < 128; ++v) {
        Bits<56> cd{};
        for (int i = 0; i < 7; ++i)
          cd[(for_d ? 28 : 0) + 7 * q + i] = (v >> (6 - i)) & 1;
        Bits<48> k{};
        for (int i = 0; i < 48; ++i)
          k[i] = cd[kPc2[i] - 1];
        EXPECT_EQ(table[q][v], stored_form(round_key_words(k)))
            << (for_d ? "D" : "C") << " group " << q << ", value " << v;
      }
    }
  }
}

// Entry [j][x]: S-box j+1 of the six bits x (the first bit highest; row from
// the outer two, column from the inner four), placed as output bits 4j+1..
// 4j+4, through P, then rotated left by one as the round function keeps its
// halves.
TEST(DesTables, SpTablesAreTheSBoxesThroughP) {
  for (int j = 0; j < 8; ++j) {
    for (int x = 0; x < 64; ++x) {
      int b[6];
      for (int i = 0; i < 6; ++i)
        b[i] = (x >> (5 - i)) & 1;
      int row = 2 * b[0] + b[5];
      int col = 8 * b[1] + 4 * b[2] + 2 * b[3] + b[4];
      int s = kSBoxes[j][row][col];
      Bits<32> before{};
      for (int i = 0; i < 4; ++i)
        before[4 * j + i] = (s >> (3 - i)) & 1;
      uint32_t after = 0;
      for (int i = 0; i < 32; ++i)
        after = after << 1 | before[kP[i] - 1];
      EXPECT_EQ(des_detail::kSp[j][x], std::rotl(after, 1)) << "S" << j + 1 << ", input " << x;
    }
  }
}

}  // namespace
}  // namespace palisim
