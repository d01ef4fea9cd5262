// The Visa PIN verification value.
#include "payments/pvv.h"

#include <gtest/gtest.h>

#include <string>

#include "pin_test_util.h"

namespace palisim {
namespace {

using testing::bytes_from_hex;
using namespace testing::pin;

std::string pvv_of(const std::string& pin, int index = 1, const std::string& pvk_hex = kPvk,
                   const std::string& account = kPvvAccount) {
  std::string pvk = bytes_from_hex(pvk_hex);
  Pvv pvv;
  pvv.fill('#');
  const KeyCipher cipher(reinterpret_cast<const uint8_t*>(pvk.data()),
                         static_cast<int32_t>(pvk.size()));
  compute_pvv(account, index, pin, cipher, pvv);
  EXPECT_EQ(pvv[4], '\0');
  return pvv.data();
}

TEST(Pvv, PublishedExamples) {
  // PAN 4564320000980369, PVKI 1. For PIN 2205 the enciphered block
  // A385637A498EBEC9 has four decimal nibbles in its first four.
  EXPECT_EQ(pvv_of("2205"), "3856");
  // For PIN 0654 the block FD0B8DFDDAB8BCFC holds only three decimal nibbles
  // (0, 8, 8); the second pass takes the first nibble above 9, F, as 5.
  EXPECT_EQ(pvv_of("0654"), "0885");
  ASSERT_EQ(oracle_block(kPvk, "3200009803610654"), "FD0B8DFDDAB8BCFC");
}

TEST(Pvv, SecondPassTakesLettersFromTheLeft) {
  // Enciphered blocks found with an independent triple-DES (Python's
  // cryptography package) under the same PVK, with 3, 2 and 1 decimal nibbles.
  struct Row {
    const char* account;
    int index;
    const char* pin;
    const char* enciphered;
    const char* pvv;
  };
  const Row rows[] = {
      {"32000098036", 0, "1652", "4EBE7BCDBDB4FEEF", "4744"},
      {"32000098036", 2, "4372", "ACBBDDCAB4DC0CEC", "4002"},
      {"40123456789", 4, "3480", "DA0FCBAFCBECEECE", "0305"},
  };
  for (const Row& row : rows) {
    const std::string tsp = std::string(row.account) + std::to_string(row.index) + row.pin;
    ASSERT_EQ(oracle_block(kPvk, tsp), row.enciphered) << "test data, PIN " << row.pin;
    EXPECT_EQ(pvv_of(row.pin, row.index, kPvk, row.account), row.pvv) << "PIN " << row.pin;
  }
}

TEST(Pvv, OnlyTheFirstFourPinDigitsCount) {
  EXPECT_EQ(pvv_of("22059"), "3856");
  EXPECT_EQ(pvv_of("220512345678"), "3856");
  EXPECT_EQ(pvv_of("06549999"), "0885");
  EXPECT_NE(pvv_of("2206"), "3856");
}

TEST(Pvv, IndexAndAccountEnterTheBlock) {
  const std::string base = pvv_of("2205", 1);
  EXPECT_NE(pvv_of("2205", 0), base);
  EXPECT_NE(pvv_of("2205", 6), base);
  EXPECT_NE(pvv_of("2205", 1, kPvk, "32000098037"), base);
}

TEST(Pvv, KeyLengthSelectsTheCipher) {
  // K1 K2 K1 as three-key equals K1 K2 as two-key; K1 K1 equals single DES K1.
  const std::string k1 = kPvk.substr(0, 16);
  for (const std::string pin : {"2205", "0654", "1234", "9999"}) {
    EXPECT_EQ(pvv_of(pin, 1, kPvk + k1), pvv_of(pin, 1, kPvk)) << pin;
    EXPECT_EQ(pvv_of(pin, 3, k1), pvv_of(pin, 3, k1 + k1)) << pin;
    EXPECT_NE(pvv_of(pin, 3, k1), pvv_of(pin, 3, kPvk)) << pin;
  }
}

}  // namespace
}  // namespace palisim
