// Command 32: a PIN checked against the Visa PVV, the block under a PIN key
// (type "1") or a DUKPT key (type "7").
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pin_test_util.h"

namespace palisim {
namespace {

using namespace testing::pin;
using testing::block_under_mfk;
using testing::run;
using testing::settings_with_mfk;

// PVVs of the example PVK and account digits, found with an independent
// triple-DES (Python's cryptography package): PIN 2205 under key index 0
// and 6, and PIN 1234 under index 1.
constexpr char kPvv2205Index0[] = "3157";
constexpr char kPvv2205Index6[] = "2113";
constexpr char kPvv1234[] = "3003";

class VerifyPin : public ::testing::Test {
 protected:
  // The PIN (4 to 12 digits) in a format 0 block of the PIN block account
  // digits, enciphered by OpenSSL under the PIN key.
  std::string block_of(const std::string& pin) {
    std::string field = "0" + std::string(1, "0123456789ABC"[pin.size()]) + pin;
    field.resize(16, 'F');
    return oracle_block(kPinKey1, clear_block(field, kPvvPinAccount));
  }
  std::vector<std::string> type1(const std::string& block, const std::string& pvv,
                                 const std::string& index = "1") {
    return {"32", "3", "1", block, pin_key_, pvk_, "", pvv, index, kPvvAccount, kPvvPinAccount};
  }
  // The published DUKPT block of PIN 1234 for account digits 401234567890.
  std::vector<std::string> type7(const std::string& block, const std::string& ksn,
                                 const std::string& mode) {
    return {"32", "3", "7", block, bdk_, pvk_, "", kPvv1234, "1", kPvvAccount, kAccount, ksn, mode};
  }

  Settings s_ = settings_with_mfk();
  std::string pin_key_ = block_under_mfk(s_, "1PUDE000", kPinKey1);
  std::string pvk_ = block_under_mfk(s_, "1VVNE000", kPvk);
  std::string bdk_ = block_under_mfk(s_, "1dDNN000", kBdk);
};

TEST_F(VerifyPin, Type1MatchesThePublishedPvv) {
  EXPECT_EQ(run(s_, request(type1(block_of("2205"), "3856"))), reply({"42", "Y"}));
  EXPECT_EQ(run(s_, request(type1(block_of("0654"), "0885"))), reply({"42", "Y"}));
  // PINs sharing their first four digits share the PVV.
  EXPECT_EQ(run(s_, request(type1(block_of("220577"), "3856"))), reply({"42", "Y"}));
  EXPECT_EQ(run(s_, request(type1(block_of("220500001111"), "3856"))), reply({"42", "Y"}));
  // One digit off, or another PIN's PVV.
  EXPECT_EQ(run(s_, request(type1(block_of("2205"), "3857"))), reply({"42", "N"}));
  EXPECT_EQ(run(s_, request(type1(block_of("2205"), "0885"))), reply({"42", "N"}));
  EXPECT_EQ(run(s_, request(type1(block_of("2206"), "3856"))), reply({"42", "N"}));
  // The echo field, and field 6 never looked at.
  std::vector<std::string> fields = type1(block_of("2205"), "3856");
  fields[6] = "anything at all";
  fields.push_back("^42");
  EXPECT_EQ(run(s_, request(fields)), "<42#Y#^42#>\r\n");
}

TEST_F(VerifyPin, KeyIndexAsDecimalNumber) {
  struct Row {
    const char* index;
    const char* pvv;
  };
  const Row rows[] = {
      {"1", "3856"},         {"01", "3856"},        {"0001", "3856"},       {"", kPvv2205Index0},
      {"0", kPvv2205Index0}, {"6", kPvv2205Index6}, {"06", kPvv2205Index6},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(run(s_, request(type1(block_of("2205"), row.pvv, row.index))), reply({"42", "Y"}))
        << "index '" << row.index << "'";
  }
  EXPECT_EQ(run(s_, request(type1(block_of("2205"), "3856", "0"))), reply({"42", "N"}));
}

TEST_F(VerifyPin, PinFaultCharacters) {
  struct Row {
    const char* name;
    const char* pin_field;
    char opta1;
    const char* check;
  };
  const Row rows[] = {
      {"length 15, opta1 L", "0F22051234567890", 'L', "L"},
      {"length 15, opta1 S", "0F22051234567890", 'S', "S"},
      {"length 3, opta1 L", "03220FFFFFFFFFFF", 'L', "L"},
      {"format 5", "542205FFFFFFFFFF", 'L', "S"},
      {"padding", "042205FFFFFFFF0F", 'L', "S"},
      {"digit above 9", "0422C5FFFFFFFFFF", 'L', "S"},
      {"format 3 padding not inspected", "3422050123456789", 'L', "Y"},
  };
  for (const Row& row : rows) {
    s_.pin_sanity = row.opta1;
    const std::string block = oracle_block(kPinKey1, clear_block(row.pin_field, kPvvPinAccount));
    EXPECT_EQ(run(s_, request(type1(block, "3856"))), reply({"42", row.check})) << row.name;
  }
}

TEST_F(VerifyPin, Type7WithThePublishedDukptBlock) {
  s_.second_pin = 'B';
  EXPECT_EQ(run(s_, request(type7(kBlock1, kKsn1, "D"))), reply({"42", "Y"}));
  EXPECT_EQ(run(s_, request(type7(kBlock2, kKsn2, "D"))), reply({"42", "Y"}));
  std::vector<std::string> fields = type7(kBlock2, kKsn2, "D");
  fields.push_back("^echo");
  EXPECT_EQ(run(s_, request(fields)), "<42#Y#^echo#>\r\n");
  fields = type7(kBlock2, kKsn2, "D");
  fields[7] = "3004";
  EXPECT_EQ(run(s_, request(fields)), reply({"42", "N"}));
  // The block of one transaction under the KSN of the other gives no valid PIN.
  EXPECT_NE(run(s_, request(type7(kBlock1, kKsn2, "D"))), reply({"42", "Y"}));
}

TEST_F(VerifyPin, DukptModeFromOpta2AndTheRequest) {
  const std::string& single = kSingleBlock1;
  struct Row {
    char opta2;
    const char* mode;
    bool double_length;
  };
  const Row rows[] = {
      {'B', "1", false}, {'B', "S", false}, {'B', "D", true}, {'S', "1", false}, {'S', "S", false},
      {'S', "D", false}, {'D', "1", true},  {'D', "S", true}, {'D', "D", true},
  };
  for (const Row& row : rows) {
    s_.second_pin = row.opta2;
    const std::string& block = row.double_length ? kBlock1 : single;
    EXPECT_EQ(run(s_, request(type7(block, kKsn1, row.mode))), reply({"42", "Y"}))
        << "opta2 " << row.opta2 << ", mode " << row.mode;
  }
}

TEST_F(VerifyPin, Type1ErrorRowsInOrder) {
  std::vector<ErrorRow> rows = {
      cut_to("ten fields", 10, error(4, 11, 300)),
      set_field("method 4", 1, "4", error(3, 1, 203)),
      set_field("empty method", 1, "", error(3, 1, 203)),
      set_field("method 33", 1, "33", error(1, 1, 3)),
      set_field("type 2", 2, "2", error(3, 2, 203)),
      set_field("empty type", 2, "", error(3, 2, 203)),
      set_field("type 17", 2, "17", error(1, 2, 3)),
      set_field("PIN block of 15 digits", 3, "0123456789ABCDE", error(1, 3, 3)),
      set_field("PIN block with a Z", 3, "0123456789ABCDEZ", error(2, 3, 102)),
  };
  for (ErrorRow& row : key_field_rows(s_, 4, "1PUDE000", "1PUEE000"))
    rows.push_back(row);
  for (ErrorRow& row : key_field_rows(s_, 5, "1VVNE000", "1VVGE000"))
    rows.push_back(row);
  const std::vector<ErrorRow> rest = {
      set_field("PVV of 3 digits", 7, "385", error(1, 7, 3)),
      set_field("PVV of 5 digits", 7, "38560", error(1, 7, 3)),
      set_field("PVV with a letter", 7, "38A6", error(2, 7, 102)),
      set_field("key index with a letter", 8, "A", error(2, 8, 102)),
      set_field("key index -1", 8, "-1", error(2, 8, 102)),
      set_field("key index 7", 8, "7", error(3, 8, 200)),
      set_field("key index of 20 digits", 8, "99999999999999999999", error(3, 8, 200)),
      set_field("PVV account of 10 digits", 9, "3200009803", error(1, 9, 3)),
      set_field("PVV account with a letter", 9, "3200009803X", error(2, 9, 102)),
      set_field("account of 11 digits", 10, "43200009803", error(1, 10, 3)),
      set_field("account with a letter", 10, "43200009803X", error(2, 10, 102)),
  };
  rows.insert(rows.end(), rest.begin(), rest.end());
  expect_error_rows(s_, type1(block_of("2205"), "3856"), rows);
}

TEST_F(VerifyPin, Type7ErrorRowsInOrder) {
  s_.second_pin = 'B';
  std::vector<ErrorRow> rows = {
      cut_to("ten fields", 10, error(4, 11, 300)),
      set_field("method 4", 1, "4", error(3, 1, 203)),
      set_field("type 77", 2, "77", error(1, 2, 3)),
      set_field("PIN block of 17 digits", 3, kBlock1 + "0", error(1, 3, 3)),
      set_field("PIN block with a space", 3, "1B9C1845EB99 A7A", error(2, 3, 102)),
      cut_to("eleven fields", 11, error(4, 13, 300)),
      cut_to("twelve fields", 12, error(4, 13, 300)),
  };
  for (ErrorRow& row : key_field_rows(s_, 4, "1dDNE000", "1PUDE000"))
    rows.push_back(row);
  for (ErrorRow& row : key_field_rows(s_, 5, "1VVVN000", "1VVGN000"))
    rows.push_back(row);
  const std::vector<ErrorRow> rest = {
      set_field("PVV with a letter", 7, "30O3", error(2, 7, 102)),
      set_field("key index 8", 8, "8", error(3, 8, 200)),
      set_field("PVV account of 12 digits", 9, "320000980360", error(1, 9, 3)),
      set_field("account of 11 digits", 10, "40123456789", error(1, 10, 3)),
      set_field("key serial number of 9", 11, "3210E0000", error(1, 11, 3)),
      set_field("key serial number of 21", 11, kKsn1 + "F", error(1, 11, 3)),
      set_field("key serial number with an X", 11, "FFFF9876543210E0000X", error(2, 11, 102)),
      set_field("empty mode", 12, "", error(1, 12, 3)),
      set_field("mode DD", 12, "DD", error(1, 12, 3)),
      set_field("mode 2", 12, "2", error(3, 12, 200)),
      set_field("counter of 0", 11, "FFFF9876543210E00000", error(3, 12, 200)),
  };
  rows.insert(rows.end(), rest.begin(), rest.end());
  expect_error_rows(s_, type7(kBlock1, kKsn1, "D"), rows);
}

TEST_F(VerifyPin, WithoutMfkTheKeyFieldIsRefused) {
  Settings none;
  none.opt21 = 1;
  EXPECT_EQ(run(none, request(type1(block_of("2205"), "3856"))), error(6, 0, 602));
}

}  // namespace
}  // namespace palisim
