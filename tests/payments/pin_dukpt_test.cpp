// DUKPT on the receiving side: the published ANSI X9.24-1 Annex A test data,
// counters OpenSSL-checked where no published value exists, base derivation
// keys of every length, the mode choice and the key serial number.
#include "payments/dukpt.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "crypto/hex.h"
#include "pin_test_util.h"

namespace palisim {
namespace {

using testing::bytes_from_hex;
using testing::to_hex;
using namespace testing::pin;

Ksn ksn_of(const std::string& hex) {
  Ksn ksn;
  assemble_ksn(hex, ksn);
  return ksn;
}

// The clear block that DUKPT gives for an enciphered block, or "refused".
std::string dukpt_clear(DukptMode mode, const std::string& ksn_hex, const std::string& bdk_hex,
                        const std::string& block_hex) {
  std::string bdk = bytes_from_hex(bdk_hex);
  std::string in = bytes_from_hex(block_hex);
  uint8_t out[8] = {};
  const bool ok = dukpt_decipher(
      mode, ksn_of(ksn_hex), reinterpret_cast<const uint8_t*>(bdk.data()),
      static_cast<int32_t>(bdk.size()), reinterpret_cast<const uint8_t*>(in.data()), out);
  return ok ? to_hex(out, 8) : "refused";
}

// What a terminal sends: the clear block under a PIN key.
std::string terminal_block(const Key& pin_key, const std::string& clear_hex) {
  std::string clear = bytes_from_hex(clear_hex);
  uint8_t out[8];
  dukpt_encipher_block(pin_key, reinterpret_cast<const uint8_t*>(clear.data()), out);
  return to_hex(out, 8);
}

// The oracle's form of the same: triple DES, or XOR-DES-XOR for an 8-byte key.
std::string oracle_terminal_block(const std::string& pin_key, const std::string& clear_hex) {
  if (pin_key.size() != 16) return oracle_block(pin_key, clear_hex);
  return xor_hex(oracle_block(pin_key, xor_hex(clear_hex, pin_key)), pin_key);
}

std::string hex64(uint64_t v) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(v));
  return text;
}

uint64_t des64(uint64_t key, uint64_t data) {
  return std::stoull(oracle_block(hex64(key), hex64(data)), nullptr, 16);
}

// The X9.24-1 host derivation written from the standard's description with
// OpenSSL's DES, for counters that the published tables do not cover: the
// shift register walks from bit 20 to bit 0 and every counter bit it meets
// makes one non-reversible key generation. Returns the PIN key.
std::string oracle_pin_key(const std::string& bdk_hex, const std::string& ksn_hex, bool dbl) {
  const uint64_t kMask = 0xC0C0C0C000000000ull;
  const uint64_t ksn_high = std::stoull(ksn_hex.substr(0, 16), nullptr, 16);
  const uint64_t ksn_low = std::stoull(ksn_hex.substr(4, 16), nullptr, 16);
  const uint64_t counter = ksn_low & 0x1FFFFF;
  const std::string initial_block = hex64(ksn_high & ~0x1Full);
  std::string masked_bdk;
  for (size_t at = 0; at < bdk_hex.size(); at += 16)
    masked_bdk += xor_hex(bdk_hex.substr(at, 16), hex64(kMask));
  uint64_t left = std::stoull(oracle_block(bdk_hex, initial_block), nullptr, 16);
  uint64_t right = std::stoull(oracle_block(masked_bdk, initial_block), nullptr, 16);
  uint64_t reg = ksn_low & ~0x1FFFFFull;
  for (uint64_t shift = 0x100000; shift != 0; shift >>= 1) {
    if ((shift & counter) == 0) continue;
    reg |= shift;
    if (!dbl) {
      left = des64(left, reg ^ left) ^ left;
      continue;
    }
    const uint64_t new_right = des64(left, reg ^ right) ^ right;
    const uint64_t new_left = des64(left ^ kMask, reg ^ right ^ kMask) ^ right ^ kMask;
    left = new_left;
    right = new_right;
  }
  return dbl ? hex64(left ^ 0xFF) + hex64(right ^ 0xFF) : hex64(left ^ 0xFF);
}

TEST(Dukpt, DoubleLengthPublishedTable) {
  // X9.24-1 Annex A, double-length keys: BDK 0123456789ABCDEFFEDCBA9876543210
  // (initial key 6AC292FAA1315B4D858AB3A3D7D5933A), the PIN key of each KSN
  // and PIN 1234 of account 4012345678909 enciphered under it. The counters
  // cover one set bit at positions 0 to 4 and 16 to 20, several bits, and the
  // ten-bit counters ending the table.
  struct Row {
    const char* ksn;
    const char* pin_key;
    const char* block;
  };
  const Row rows[] = {
      {"FFFF9876543210E00001", "042666B49184CF5C68DE9628D0397B36", "1B9C1845EB993A7A"},
      {"FFFF9876543210E00002", "C46551CEF9FD244FAA9AD834130D3B38", "10A01C8D02C69107"},
      {"FFFF9876543210E00003", "0DF3D9422ACA561A47676D07AD6BAD05", "18DC07B94797B466"},
      {"FFFF9876543210E00004", "279C0F6AEED0BE9A2B2C733E1383AE6E", "0BC79509D5645DF7"},
      {"FFFF9876543210E00005", "5F8DC6D2C845C1DA508DDC048093B8C0", "5BC0AF22AD87B327"},
      {"FFFF9876543210E00008", "27F66D5244FF621EAA6F6120EDEB427F", "50E55547A5027551"},
      {"FFFF9876543210E00010", "59598DCBD9BD943F94165CE453585FA8", "D5D9638559EF53D6"},
      {"FFFF9876543210E00015", "E161D1956A61F62DF37AFD7F9CC36965", "72105C22EBC791E6"},
      {"FFFF9876543210E10000", "2F9A0C0B46ECCBA1F8287A7A071AF54B", "19776D96D73AF1E2"},
      {"FFFF9876543210E20000", "DEFDE0EA1043B58D2FA013DE6C4B8F04", "83F14581B8946B2D"},
      {"FFFF9876543210E40000", "9F59E8536BDB056513C856FCCF9A0981", "96B3ADCBF9F5219C"},
      {"FFFF9876543210E80000", "87B9983D9D23047A8D199F5CA0C3DEEC", "1E0F453FD55FCE45"},
      {"FFFF9876543210EFF800", "F9CDFEBF4F5B1D61B3EC12454527E189", "33365F5CC6F23C35"},
      {"FFFF9876543210EFF801", "5BEE92627E9782A3911BF619DF72CAC4", "3A86BF003F835C9D"},
      {"FFFF9876543210EFFC00", "F9430DF97508246EC77BE4EF4FDB9111", "DEFC6F09F8927B71"},
      {"FFFF9876543210F00000", "AA4D58DB653EC7B548C75F2F047DD24A", "73EC88AD0AC5830E"},
  };
  for (const Row& row : rows) {
    ASSERT_EQ(oracle_block(row.pin_key, kClearBlock), row.block) << "test data, " << row.ksn;
    EXPECT_EQ(dukpt_clear(DukptMode::kDouble, row.ksn, kBdk, row.block), kClearBlock) << row.ksn;
    EXPECT_EQ(oracle_pin_key(kBdk, row.ksn, true), row.pin_key) << "oracle, " << row.ksn;
  }
}

TEST(Dukpt, SingleLengthPublishedTable) {
  // X9.24 single-length test data (initial key 6AC292FAA1315B4D): the PIN key
  // of each KSN and, where published, PIN 1234 of account 4012345678909 under
  // it in the XOR-DES-XOR form, both ways.
  struct Row {
    const char* ksn;
    const char* pin_key;
    const char* block;
  };
  const Row rows[] = {
      {"FFFF9876543210E00001", "35FDB4BBAEE6A293", "6B1431D0D9B23093"},
      {"FFFF9876543210E00002", "1A3CD4AB030F02BB", "B76997F83C1479DB"},
      {"FFFF9876543210E00003", "1998AA279AA21032", "925BC2A39652CF75"},
      {"FFFF9876543210E00004", "4D2ED4E7D411C27D", nullptr},
      {"FFFF9876543210E00008", "34E5014B8E997DE8", nullptr},
      {"FFFF9876543210E00009", nullptr, "8DC939C56D0FD13C"},
      {"FFFF9876543210E00015", "D6395F8E660EE72D", nullptr},
      {"FFFF9876543210E10000", "D515CFBB8257EF9C", nullptr},
      {"FFFF9876543210E80000", "D75A2E8DA84526AF", nullptr},
      {"FFFF9876543210EFF800", "653E5B68A791E24E", nullptr},
      {"FFFF9876543210EFFC00", "3B4926EA7DFB7CD7", nullptr},
      {"FFFF9876543210F00000", "A101F43AFE98FEB7", "3FAC6F8763C0B60C"},
  };
  const std::string bdk = bytes_from_hex(kBdk);
  const auto* bdk_bytes = reinterpret_cast<const uint8_t*>(bdk.data());
  for (const Row& row : rows) {
    Key key;
    ASSERT_TRUE(dukpt_pin_key(DukptMode::kSingle, ksn_of(row.ksn), bdk_bytes, 16, key));
    if (row.pin_key) {
      EXPECT_EQ(to_hex(key.bytes.data(), key.len), row.pin_key) << row.ksn;
    }
    if (!row.block) continue;
    EXPECT_EQ(dukpt_clear(DukptMode::kSingle, row.ksn, kBdk, row.block), kClearBlock) << row.ksn;
    EXPECT_EQ(terminal_block(key, kClearBlock), row.block) << row.ksn;
  }
  // IBM CCA's example of the single-length form: current key 670B395E6CFB603D,
  // whose PIN key has FF XORed into its last byte.
  Key ibm;
  ibm.len = 8;
  hex_to_binary(ibm.bytes.data(), "670B395E6CFB60C2", 16);
  EXPECT_EQ(terminal_block(ibm, kClearBlock), "364E05FD888F418A");
}

TEST(Dukpt, CounterOfZeroIsRefused) {
  for (const std::string ksn :
       {"FFFF9876543210E00000", "FFFF9876543210000000", "0000000000FFE0000000"}) {
    for (DukptMode mode : {DukptMode::kSingle, DukptMode::kDouble})
      EXPECT_EQ(dukpt_clear(mode, ksn, kBdk, kBlock1), "refused") << ksn;
  }
}

TEST(Dukpt, EverySingleBitAndAllTwentyOneBits) {
  // One key step per set bit, 21 of them for an all-ones counter, and bits
  // above the counter (KSN byte 7, E0) left to the initial key.
  std::vector<uint32_t> counters;
  for (int p = 0; p < 21; ++p)
    counters.push_back(1u << p);
  counters.push_back(0x1FFFFF);
  counters.push_back(0x0AAAAA);
  for (uint32_t counter : counters) {
    char ksn[21];
    std::snprintf(ksn, sizeof ksn, "FFFF98765432%08X", 0x10E00000u | counter);
    for (bool dbl : {false, true}) {
      const std::string block = oracle_terminal_block(oracle_pin_key(kBdk, ksn, dbl), kClearBlock);
      EXPECT_EQ(dukpt_clear(dbl ? DukptMode::kDouble : DukptMode::kSingle, ksn, kBdk, block),
                kClearBlock)
          << ksn << (dbl ? " double" : " single");
    }
  }
}

TEST(Dukpt, KsnBytesZeroAndOneEnterOnlyTheInitialKey) {
  for (const std::string ksn : {"12349876543210E00003", "FFFF9876543210E00003"}) {
    for (bool dbl : {false, true}) {
      const std::string block = oracle_terminal_block(oracle_pin_key(kBdk, ksn, dbl), kClearBlock);
      EXPECT_EQ(dukpt_clear(dbl ? DukptMode::kDouble : DukptMode::kSingle, ksn, kBdk, block),
                kClearBlock)
          << ksn;
    }
  }
  EXPECT_NE(oracle_pin_key(kBdk, "12349876543210E00003", true),
            oracle_pin_key(kBdk, "FFFF9876543210E00003", true));
}

TEST(Dukpt, BaseDerivationKeysOfEveryLength) {
  // A 24-byte BDK K1 K2 K1 is the 16-byte BDK K1 K2; its variant takes the
  // mask in all three parts, so the published blocks still decipher.
  const std::string bdk24 = kBdk + kBdk.substr(0, 16);
  EXPECT_EQ(dukpt_clear(DukptMode::kDouble, kKsn1, bdk24, kBlock1), kClearBlock);
  EXPECT_EQ(dukpt_clear(DukptMode::kDouble, kKsn2, bdk24, kBlock2), kClearBlock);
  EXPECT_EQ(dukpt_clear(DukptMode::kSingle, kKsn1, bdk24, kSingleBlock1), kClearBlock);

  // Distinct parts, and a single-length BDK (DES, variant C0C0C0C000000000).
  for (const std::string& bdk : {kBdk + "89ABCDEF01234567", kBdk.substr(0, 16)}) {
    for (const std::string& ksn : {kKsn1, std::string("FFFF9876543210EFFC00")}) {
      for (bool dbl : {false, true}) {
        const std::string block = oracle_terminal_block(oracle_pin_key(bdk, ksn, dbl), kClearBlock);
        EXPECT_EQ(dukpt_clear(dbl ? DukptMode::kDouble : DukptMode::kSingle, ksn, bdk, block),
                  kClearBlock)
            << bdk.size() / 2 << "-byte BDK, " << ksn << (dbl ? " double" : " single");
      }
    }
  }
}

TEST(Dukpt, ModeResolution) {
  struct Row {
    char request;
    char opta2;
    DukptMode mode;
  };
  const Row rows[] = {
      {'1', 'B', DukptMode::kSingle}, {'S', 'B', DukptMode::kSingle},
      {'D', 'B', DukptMode::kDouble}, {'1', 'S', DukptMode::kSingle},
      {'S', 'S', DukptMode::kSingle}, {'D', 'S', DukptMode::kSingle},
      {'1', 'D', DukptMode::kDouble}, {'S', 'D', DukptMode::kDouble},
      {'D', 'D', DukptMode::kDouble},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(resolve_dukpt_mode(row.request, row.opta2), row.mode)
        << "request " << row.request << ", opta2 " << row.opta2;
  }
}

TEST(Dukpt, KeySerialNumberAndCounter) {
  struct Row {
    const char* field;
    const char* ksn;
    uint32_t counter;
  };
  const Row rows[] = {
      {"FFFF9876543210E00001", "FFFF9876543210E00001", 1},
      {"ffff9876543210e00015", "FFFF9876543210E00015", 0x15},
      {"3210E00001", "FFFFFFFFFF3210E00001", 1},
      {"3210E000011", "FFFFFFFFFF3210E00001", 1},
      {"FF9876543210E000017", "FFFF9876543210E00001", 1},
      {"FFFF9876543210FFFFFF", "FFFF9876543210FFFFFF", 0x1FFFFF},
      {"FFFF9876543210F00000", "FFFF9876543210F00000", 0x100000},
      {"FFFF9876543210E00000", "FFFF9876543210E00000", 0},
  };
  for (const Row& row : rows) {
    const Ksn ksn = ksn_of(row.field);
    EXPECT_EQ(to_hex(ksn.data(), ksn.size()), row.ksn) << row.field;
    EXPECT_EQ(transaction_counter(ksn), row.counter) << row.field;
  }
}

}  // namespace
}  // namespace palisim
