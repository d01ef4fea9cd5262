// The seeded generator: HMAC_DRBG against the NIST CAVP vector, seeds as
// written, and a connection's source repeating exactly what a seed gives.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "crypto/hex.h"
#include "crypto/hmac_drbg.h"
#include "crypto/random_source.h"

namespace palisim {
namespace {

std::vector<uint8_t> bytes_of(const std::string& hex) {
  std::vector<uint8_t> out(hex.size() / 2);
  hex_to_binary(out.data(), hex.data(), hex.size());
  return out;
}

// HMAC_DRBG.rsp, [SHA-256], no prediction resistance, no reseed, COUNT = 0:
// instantiate with entropy input and nonce, generate 1024 bits twice, the
// second is ReturnedBits.
TEST(HmacDrbg, CavpSha256Count0) {
  std::vector<uint8_t> seed = bytes_of(
      "ca851911349384bffe89de1cbdc46e6831e44d34a4fb935ee285dd14b71a7488"
      "659ba96c601dc69fc902940805ec0ca8");
  HmacDrbg drbg;
  drbg.instantiate(seed);
  std::array<uint8_t, 128> out;
  drbg.generate(out);
  drbg.generate(out);
  char text[2 * out.size() + 1];
  binary_to_hex(text, out.data(), out.size());
  EXPECT_STREQ(text,
               "E528E9ABF2DECE54D47C7E75E5FE302149F817EA9FB4BEE6F4199697D04D5B89"
               "D54FBB978A15B5C443C9EC21036D2460B6F73EBAD0DC2ABA6E624ABF07745BC1"
               "07694BB7547BB0995F70DE25D6B29E2D3011BB19D27676C07162C8B5CCDE0668"
               "961DF86803482CB37ED6D5C0BB8D50CF1F50D476AA0458BDABA806F48BE9DCB8");
}

TEST(RandomSeed, AcceptsSixteenToSixtyFourHexDigits) {
  const struct {
    std::string text;
    bool accepted;
  } cases[] = {
      {std::string(16, 'a'), true},     {std::string(64, 'F'), true},
      {"0123456789abcdefABCDEF", true}, {std::string(14, '1'), false},
      {std::string(66, '1'), false},    {std::string(17, '1'), false},
      {"0123456789abcdeG", false},      {"", false},
  };
  for (const auto& c : cases) {
    RandomSeed seed;
    EXPECT_EQ(parse_random_seed(c.text, seed), c.accepted) << c.text;
    EXPECT_EQ(seed.len, c.accepted ? c.text.size() / 2 : 0) << c.text;
  }
}

// Blocks and draws of a source started from a seed, in a fixed interleaving.
std::vector<uint64_t> sequence(const std::string& seed_hex) {
  RandomSeed seed;
  EXPECT_TRUE(parse_random_seed(seed_hex, seed));
  RandomSource source;
  source.use_seed(seed);
  std::vector<uint64_t> out;
  for (int i = 0; i < 4; ++i) {
    uint8_t block[8];
    source.block(block);
    uint64_t value = 0;
    for (uint8_t b : block)
      value = value << 8 | b;
    out.push_back(value);
    out.push_back(source.draw());
  }
  return out;
}

TEST(RandomSource, ASeedRepeatsItsValuesAndAnotherSeedDoesNot) {
  EXPECT_EQ(sequence("00112233445566778899aabbccddeeff"),
            sequence("00112233445566778899AABBCCDDEEFF"));
  EXPECT_NE(sequence("00112233445566778899aabbccddeeff"),
            sequence("00112233445566778899aabbccddeef0"));
}

TEST(RandomSource, UnseededDrawsDifferAcrossStartsAndBlocksComeFromTheKernel) {
  RandomSource a, b;
  a.use_kernel(1);
  b.use_kernel(2);
  EXPECT_FALSE(a.seeded());
  EXPECT_NE(a.draw(), b.draw());
  uint8_t x[8] = {}, y[8] = {};
  a.block(x);
  a.block(y);
  EXPECT_NE(std::string(x, x + 8), std::string(y, y + 8));
}

}  // namespace
}  // namespace palisim
