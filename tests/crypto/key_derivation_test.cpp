#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>

#include "crypto/check_value.h"
#include "crypto/des.h"
#include "crypto/key_variant.h"
#include "crypto/wrapping_key.h"
#include "hex_text.h"

namespace palisim {
namespace {

using Key24 = std::array<uint8_t, 24>;

Key24 random_key(std::mt19937& gen) {
  Key24 k;
  for (auto& b : k)
    b = static_cast<uint8_t>(gen());
  return k;
}

std::string check_value(const uint8_t* key, int32_t key_len, bool long_form) {
  CheckValueText out;
  out.fill('X');
  key_check_value(key, key_len, out, long_form);
  return out.data();
}

TEST(KeyCheckValue, KnownAnswersInShortAndLongForm) {
  const uint8_t single[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  EXPECT_EQ(check_value(single, 8, false), "D5D4");
  EXPECT_EQ(check_value(single, 8, true), "D5D44F");

  const uint8_t dbl[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                           0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
  EXPECT_EQ(check_value(dbl, 16, false), "08D7");
  EXPECT_EQ(check_value(dbl, 16, true), "08D7B4");
}

TEST(KeyCheckValue, LengthSelectsTheCipherAsForBlocks) {
  std::mt19937 gen(88);
  for (int32_t key_len : {8, 16, 24, 5}) {
    Key24 key = random_key(gen);
    const uint8_t zeros[8] = {};
    uint8_t block[8];
    encipher_block_by_key_length(key.data(), key_len, zeros, block);
    std::string want = testing::to_hex(block, 3);
    EXPECT_EQ(check_value(key.data(), key_len, true), want) << "key length " << key_len;
    EXPECT_EQ(check_value(key.data(), key_len, false), want.substr(0, 4))
        << "key length " << key_len;
  }
}

TEST(KeyVariant, TouchesOnlyTheFirstByteOfEachPart) {
  std::mt19937 gen(31);
  Key24 key = random_key(gen);

  Key24 v = key;
  apply_key_variant(31, v.data(), 16);
  for (size_t i = 0; i < v.size(); ++i) {
    uint8_t expected = (i == 0 || i == 8) ? static_cast<uint8_t>(key[i] ^ 0xF8) : key[i];
    EXPECT_EQ(v[i], expected) << "byte " << i;
  }

  v = key;
  apply_key_variant(1, v.data(), 8);
  EXPECT_EQ(v[0], key[0] ^ 0x08);
  EXPECT_TRUE(std::equal(v.begin() + 1, v.end(), key.begin() + 1));

  v = key;
  apply_key_variant(5, v.data(), 24);
  for (size_t i = 0; i < v.size(); ++i) {
    uint8_t expected = (i % 8 == 0) ? static_cast<uint8_t>(key[i] ^ 0x28) : key[i];
    EXPECT_EQ(v[i], expected) << "byte " << i;
  }
}

TEST(KeyVariant, ZeroIsIdentityTwiceRestoresAndParityStays) {
  std::mt19937 gen(0);
  Key24 key = random_key(gen);
  Key24 v = key;
  apply_key_variant(0, v.data(), 24);
  EXPECT_EQ(v, key);

  for (int32_t variant = 1; variant < 32; ++variant) {
    v = key;
    apply_key_variant(variant, v.data(), 24);
    EXPECT_NE(v, key) << "variant " << variant;
    for (size_t i = 0; i < v.size(); i += 8) {
      EXPECT_EQ(v[i] & 1, key[i] & 1) << "variant " << variant << ", byte " << i;
    }
    apply_key_variant(variant, v.data(), 24);
    EXPECT_EQ(v, key) << "variant " << variant;
  }
}

TEST(ExpandKeyToTripleLength, RepeatsPartsSoTripleDesMatchesShorterKeys) {
  std::mt19937 gen(3);
  Key24 key = random_key(gen);
  const uint8_t x[8] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};

  Key24 single = key;
  expand_key_to_triple_length(single.data(), 8);
  for (int part = 1; part < 3; ++part) {
    EXPECT_EQ(0, std::memcmp(single.data() + 8 * part, key.data(), 8)) << "part " << part;
  }
  uint8_t a[8], b[8];
  encipher_block_by_key_length(single.data(), 24, x, a);
  encipher_block_by_key_length(key.data(), 8, x, b);
  EXPECT_EQ(0, std::memcmp(a, b, 8));

  Key24 dbl = key;
  expand_key_to_triple_length(dbl.data(), 16);
  EXPECT_EQ(0, std::memcmp(dbl.data(), key.data(), 16));
  EXPECT_EQ(0, std::memcmp(dbl.data() + 16, key.data(), 8));
  encipher_block_by_key_length(dbl.data(), 24, x, a);
  encipher_block_by_key_length(key.data(), 16, x, b);
  EXPECT_EQ(0, std::memcmp(a, b, 8));

  Key24 full = key;
  expand_key_to_triple_length(full.data(), 24);
  EXPECT_EQ(full, key);
}

TEST(BlockKeys, EachWrappingByteXorEOrMThenExpanded) {
  std::mt19937 gen(69);
  Key24 w = random_key(gen);
  for (int32_t w_len : {8, 16, 24}) {
    SCOPED_TRACE("wrapping key length " + std::to_string(w_len));
    Key24 ke, km;
    block_encryption_key(w.data(), w_len, ke.data());
    block_mac_key(w.data(), w_len, km.data());
    for (int i = 0; i < 24; ++i) {
      // Length 8 repeats part 1 three times; 16 puts part 1 in third place.
      int src = (w_len == 8) ? i % 8 : (w_len == 16 && i >= 16) ? i - 16 : i;
      EXPECT_EQ(ke[i], w[src] ^ 0x45) << "byte " << i;
      EXPECT_EQ(km[i], w[src] ^ 0x4D) << "byte " << i;
    }
  }
}

}  // namespace
}  // namespace palisim
