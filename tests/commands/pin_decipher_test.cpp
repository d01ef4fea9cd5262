// Command 90: a PIN block deciphered and its clear PIN returned.
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

class DecipherPin : public ::testing::Test {
 protected:
  std::vector<std::string> decipher(const std::string& block,
                                    const std::string& account = kAccount) {
    return {"90", "1", block, pin_key_, account};
  }

  Settings s_ = settings_with_mfk();
  std::string pin_key_ = block_under_mfk(s_, "1PUNE000", kPinKey1);
};

TEST_F(DecipherPin, PublishedBlockGivesItsPin) {
  EXPECT_EQ(run(s_, request(decipher(kBlock1))), reply({"A0", "1234"}));
  EXPECT_EQ(run(s_, request(decipher("1b9c1845eb993a7a"))), reply({"A0", "1234"}));
  EXPECT_EQ(run(s_, "<90#1#" + kBlock1 + "#" + pin_key_ + "#401234567890#^^#>"),
            "<A0#1234#^^#>\r\n");
  s_.opt23 = 1;
  EXPECT_EQ(run(s_, request(decipher(kBlock1))), "<A0#1234#>");
}

TEST_F(DecipherPin, EveryDecipheringHeader) {
  for (const std::string header : {"1PUNE000", "1PUNN000", "1PUDE000", "1PUDN000"}) {
    pin_key_ = block_under_mfk(s_, header, kPinKey1);
    EXPECT_EQ(run(s_, request(decipher(kBlock1))), reply({"A0", "1234"})) << header;
  }
}

TEST_F(DecipherPin, PinOrFaultCharacter) {
  struct Row {
    const char* name;
    const char* pin_field;
    char opta1;
    const char* answer;
  };
  const Row rows[] = {
      {"four digits", "040000FFFFFFFFFF", 'L', "0000"},
      {"twelve digits", "0C987654321098FF", 'L', "987654321098"},
      {"fourteen digits", "0E12345678901234", 'L', "12345678901234"},
      {"format 3", "35123459ABCDEF01", 'L', "12345"},
      {"length 3, opta1 L", "03123FFFFFFFFFFF", 'L', "L"},
      {"length 3, opta1 S", "03123FFFFFFFFFFF", 'S', "S"},
      {"length 15, opta1 L", "0F12345678901234", 'L', "L"},
      {"format 1", "141234FFFFFFFFFF", 'L', "S"},
      {"padding", "041234FFFF0FFFFF", 'L', "S"},
      {"digit above 9", "04D234FFFFFFFFFF", 'L', "S"},
  };
  for (const Row& row : rows) {
    s_.pin_sanity = row.opta1;
    const std::string block = oracle_block(kPinKey1, clear_block(row.pin_field, kAccount));
    EXPECT_EQ(run(s_, request(decipher(block))), reply({"A0", row.answer})) << row.name;
  }
}

TEST_F(DecipherPin, ErrorRowsInOrder) {
  std::vector<ErrorRow> rows = {
      cut_to("four fields", 4, error(4, 5, 300)),
      set_field("type 7", 1, "7", error(3, 1, 200)),
      set_field("empty type", 1, "", error(3, 1, 200)),
      set_field("type 10", 1, "10", error(1, 1, 3)),
      set_field("PIN block of 15 digits", 2, kBlock1.substr(1), error(1, 2, 3)),
      set_field("empty PIN block", 2, "", error(1, 2, 3)),
      set_field("PIN block with a G", 2, "GB9C1845EB993A7A", error(2, 2, 102)),
  };
  for (ErrorRow& row : key_field_rows(s_, 3, "1PUDN000", "1PUEE000"))
    rows.push_back(row);
  const std::vector<ErrorRow> rest = {
      set_field("account of 11 digits", 4, "40123456789", error(1, 4, 3)),
      set_field("account with a letter", 4, "401234567B90", error(2, 4, 102)),
  };
  rows.insert(rows.end(), rest.begin(), rest.end());
  expect_error_rows(s_, decipher(kBlock1), rows);
}

TEST_F(DecipherPin, WithoutMfkTheKeyFieldIsRefused) {
  Settings none;
  none.opt21 = 1;
  EXPECT_EQ(run(none, request(decipher(kBlock1))), error(6, 0, 602));
  // The PIN block is checked before the key.
  EXPECT_EQ(run(none, request(decipher("123"))), error(1, 2, 3));
}

}  // namespace
}  // namespace palisim
