// Command 31: a PIN block translated from an incoming PIN key (type "1") or
// a DUKPT key (type "7") to an outgoing PIN key.
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

class TranslatePin : public ::testing::Test {
 protected:
  std::vector<std::string> type1(const std::string& block, const std::string& account = kAccount) {
    return {"31", "1", in_key_, out_key_, block, account};
  }
  std::vector<std::string> type7(const std::string& block, const std::string& ksn,
                                 const std::string& mode) {
    return {"31", "7", bdk_, out_key_, block, kAccount, ksn, mode};
  }

  Settings s_ = settings_with_mfk();
  // The published block of KSN E00002 comes in under that transaction's PIN
  // key and leaves under the PIN key of E00001 as that one's published block.
  std::string in_key_ = block_under_mfk(s_, "1PUDE000", kPinKey2);
  std::string out_key_ = block_under_mfk(s_, "1PUEE000", kPinKey1);
  std::string bdk_ = block_under_mfk(s_, "1dDNE000", kBdk);
};

TEST_F(TranslatePin, Type1PublishedBlocksByteForByte) {
  EXPECT_EQ(run(s_, request(type1(kBlock2))), reply({"41", kBlock1, "Y"}));
  EXPECT_EQ(run(s_, "<31#1#" + in_key_ + "#" + out_key_ + "#" + kBlock2 + "#401234567890#^x#>"),
            "<41#" + kBlock1 + "#Y#^x#>\r\n");
  // Lower-case hex in, upper-case out; fields 6 and 7 of a type "1" request are ignored.
  EXPECT_EQ(run(s_, request(type1("10a01c8d02c69107"))), reply({"41", kBlock1, "Y"}));
  std::vector<std::string> eight = type1(kBlock2);
  eight.push_back("junk");
  eight.push_back("more");
  EXPECT_EQ(run(s_, request(eight)), reply({"41", kBlock1, "Y"}));
}

TEST_F(TranslatePin, EveryAcceptedHeader) {
  for (const std::string header : {"1PUNE000", "1PUNN000", "1PUDE000", "1PUDN000"}) {
    in_key_ = block_under_mfk(s_, header, kPinKey2);
    EXPECT_EQ(run(s_, request(type1(kBlock2))), reply({"41", kBlock1, "Y"})) << header;
  }
  for (const std::string header : {"1PUNE000", "1PUNN000", "1PUEE000", "1PUEN000"}) {
    out_key_ = block_under_mfk(s_, header, kPinKey1);
    EXPECT_EQ(run(s_, request(type1(kBlock2))), reply({"41", kBlock1, "Y"})) << header;
  }
  for (const std::string header : {"1dDNE000", "1dDNN000"}) {
    bdk_ = block_under_mfk(s_, header, kBdk);
    s_.second_pin = 'B';
    EXPECT_EQ(run(s_, request(type7(kBlock2, kKsn2, "D"))), reply({"41", kBlock1, "Y"})) << header;
  }
}

TEST_F(TranslatePin, Type7PublishedBlocksByteForByte) {
  s_.second_pin = 'B';
  EXPECT_EQ(run(s_, request(type7(kBlock2, kKsn2, "D"))), reply({"41", kBlock1, "Y"}));
  EXPECT_EQ(run(s_, request(type7(kBlock1, kKsn1, "D"))), reply({"41", kBlock1, "Y"}));
  EXPECT_EQ(run(s_, "<31#7#" + bdk_ + "#" + out_key_ + "#" + kBlock2 + "#401234567890#" + kKsn2 +
                        "#D#^echo#>"),
            "<41#" + kBlock1 + "#Y#^echo#>\r\n");
  // The key serial number in lower case, or of odd length (its last
  // character ignored), is the same KSN.
  EXPECT_EQ(run(s_, request(type7(kBlock2, "ffff9876543210e00002", "D"))),
            reply({"41", kBlock1, "Y"}));
  EXPECT_EQ(run(s_, request(type7(kBlock2, "FF9876543210E000027", "D"))),
            reply({"41", kBlock1, "Y"}));
  // Ten characters leave the first five KSN bytes FF.
  EXPECT_EQ(run(s_, request(type7(kBlock2, "3210E00002", "D"))),
            run(s_, request(type7(kBlock2, "FFFFFFFFFF3210E00002", "D"))));
  EXPECT_NE(run(s_, request(type7(kBlock2, "3210E00002", "D"))), reply({"41", kBlock1, "Y"}));
}

TEST_F(TranslatePin, DukptModeFromOpta2AndTheRequest) {
  // The same PIN of transaction E00001 enciphered under its single-length
  // and its double-length PIN key; only the right algorithm recovers it.
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
    const std::string& other = row.double_length ? single : kBlock1;
    EXPECT_EQ(run(s_, request(type7(block, kKsn1, row.mode))), reply({"41", kBlock1, "Y"}))
        << "opta2 " << row.opta2 << ", mode " << row.mode;
    EXPECT_NE(run(s_, request(type7(other, kKsn1, row.mode))), reply({"41", kBlock1, "Y"}))
        << "opta2 " << row.opta2 << ", mode " << row.mode << ", other algorithm";
  }
}

TEST_F(TranslatePin, FailedPinCheckStillTranslatesTheBlock) {
  struct Row {
    const char* name;
    const char* pin_field;
    char opta1;
    const char* check;
  };
  const Row rows[] = {
      {"valid, 14 digits", "0E12345678901234", 'L', "Y"},
      {"format 3", "3412349876543210", 'L', "Y"},
      {"length 3, opta1 L", "03123FFFFFFFFFFF", 'L', "L"},
      {"length 3, opta1 S", "03123FFFFFFFFFFF", 'S', "S"},
      {"length 15, opta1 L", "0F12345678901234", 'L', "L"},
      {"format 1", "141234FFFFFFFFFF", 'L', "S"},
      {"padding", "041234FFFFFFFFF0", 'L', "S"},
      {"digit above 9", "04123BFFFFFFFFFF", 'L', "S"},
  };
  for (const Row& row : rows) {
    s_.pin_sanity = row.opta1;
    const std::string clear = clear_block(row.pin_field, kAccount);
    EXPECT_EQ(run(s_, request(type1(oracle_block(kPinKey2, clear)))),
              reply({"41", oracle_block(kPinKey1, clear), row.check}))
        << row.name;
  }
}

TEST_F(TranslatePin, Type1ErrorRowsInOrder) {
  std::vector<ErrorRow> rows = {
      cut_to("five fields", 5, error(4, 6, 300)),
      set_field("empty type", 1, "", error(3, 1, 200)),
      set_field("type 2", 1, "2", error(3, 1, 200)),
      set_field("type 17", 1, "17", error(1, 1, 3)),
  };
  for (ErrorRow& row : key_field_rows(s_, 2, "1PUDE000", "1PUEE000"))
    rows.push_back(row);
  for (ErrorRow& row : key_field_rows(s_, 3, "1PUEE000", "1PUDE000"))
    rows.push_back(row);
  const std::vector<ErrorRow> rest = {
      set_field("PIN block of 15 digits", 4, kBlock2.substr(0, 15), error(1, 4, 3)),
      set_field("PIN block of 17 digits", 4, kBlock2 + "0", error(1, 4, 3)),
      set_field("PIN block with a G", 4, "10A01C8D02C6910G", error(2, 4, 102)),
      set_field("account of 11 digits", 5, "40123456789", error(1, 5, 3)),
      set_field("account with a letter", 5, "4012345678A0", error(2, 5, 102)),
  };
  rows.insert(rows.end(), rest.begin(), rest.end());
  expect_error_rows(s_, type1(kBlock2), rows);
}

TEST_F(TranslatePin, Type7ErrorRowsInOrder) {
  s_.second_pin = 'B';
  std::vector<ErrorRow> rows = {
      cut_to("five fields", 5, error(4, 6, 300)),    set_field("type 2", 1, "2", error(3, 1, 200)),
      set_field("type 71", 1, "71", error(1, 1, 3)), cut_to("six fields", 6, error(4, 8, 300)),
      cut_to("seven fields", 7, error(4, 8, 300)),
  };
  for (ErrorRow& row : key_field_rows(s_, 2, "1dDNE000", "1PUDE000"))
    rows.push_back(row);
  for (ErrorRow& row : key_field_rows(s_, 3, "1PUEE000", "1PUDE000"))
    rows.push_back(row);
  const std::vector<ErrorRow> rest = {
      set_field("PIN block of 15 digits", 4, kBlock2.substr(0, 15), error(1, 4, 3)),
      set_field("PIN block with a G", 4, "10A01C8D02C6910G", error(2, 4, 102)),
      set_field("account of 13 digits", 5, "4012345678901", error(1, 5, 3)),
      set_field("account with a letter", 5, "4012345678A0", error(2, 5, 102)),
      set_field("key serial number of 9", 6, "3210E0000", error(1, 6, 3)),
      set_field("key serial number of 21", 6, kKsn2 + "0", error(1, 6, 3)),
      set_field("key serial number with a G", 6, "FFFF9876543210E0000G", error(2, 6, 102)),
      set_field("key serial number with a space", 6, "FFFF98765 3210E00002", error(2, 6, 102)),
      set_field("empty mode", 7, "", error(1, 7, 3)),
      set_field("mode SD", 7, "SD", error(1, 7, 3)),
      set_field("mode X", 7, "X", error(3, 7, 200)),
      set_field("mode lower-case d", 7, "d", error(3, 7, 200)),
      set_field("counter of 0", 6, "FFFF9876543210E00000", error(3, 6, 200)),
  };
  rows.insert(rows.end(), rest.begin(), rest.end());
  expect_error_rows(s_, type7(kBlock2, kKsn2, "D"), rows);
}

TEST_F(TranslatePin, WithoutMfkTheFirstKeyFieldIsRefused) {
  Settings none;
  none.opt21 = 1;
  EXPECT_EQ(run(none, request(type1(kBlock2))), error(6, 0, 602));
  EXPECT_EQ(run(none, request(type7(kBlock2, kKsn2, "D"))), error(6, 0, 602));
}

}  // namespace
}  // namespace palisim
