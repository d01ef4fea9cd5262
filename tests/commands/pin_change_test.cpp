// Command 37: the PIN change, with the old PIN checked against the old PVV
// or, with opt66 and no old PIN block, not checked.
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

class ChangePin : public ::testing::Test {
 protected:
  // A PIN field written out as nibbles, in a block of the PIN block account
  // digits enciphered by OpenSSL under the PIN key.
  std::string block_of(const std::string& pin_field) {
    return oracle_block(kPinKey1, clear_block(pin_field, kPvvPinAccount));
  }
  std::vector<std::string> change(const std::string& old_block, const std::string& old_pvv,
                                  const std::string& new_block) {
    return {"37", "3",     "1", old_block,   pin_key_,  pvk_,
            "",   old_pvv, "1", kPvvAccount, new_block, kPvvPinAccount};
  }

  Settings s_ = settings_with_mfk();
  std::string pin_key_ = block_under_mfk(s_, "1PUNN000", kPinKey1);
  std::string pvk_ = block_under_mfk(s_, "1VVVE000", kPvk);
  // PIN 2205 has PVV 3856 and PIN 0654 PVV 0885 under the example PVK.
  std::string pin_2205_ = block_of("042205FFFFFFFFFF");
  std::string pin_0654_ = block_of("040654FFFFFFFFFF");
};

TEST_F(ChangePin, MatchingOldPvvGivesTheNewPvv) {
  EXPECT_EQ(run(s_, request(change(pin_2205_, "3856", pin_0654_))), reply({"47", "Y", "0885"}));
  EXPECT_EQ(run(s_, request(change(pin_0654_, "0885", pin_2205_))), reply({"47", "Y", "3856"}));
  // Only the new PIN's first four digits enter its PVV.
  EXPECT_EQ(run(s_, request(change(pin_2205_, "3856", block_of("0806541234FFFFFF")))),
            reply({"47", "Y", "0885"}));
  std::vector<std::string> fields = change(pin_2205_, "3856", pin_0654_);
  fields[6] = "not examined";
  fields.push_back("^echo");
  EXPECT_EQ(run(s_, request(fields)), "<47#Y#0885#^echo#>\r\n");
}

TEST_F(ChangePin, WrongOldPvvGivesNAndNoPvv) {
  EXPECT_EQ(run(s_, request(change(pin_2205_, "3857", pin_0654_))), reply({"47", "N", ""}));
  EXPECT_EQ(run(s_, request(change(pin_0654_, "3856", pin_2205_))), reply({"47", "N", ""}));
  // Whatever the new PIN: a failed old check comes first.
  EXPECT_EQ(run(s_, request(change(pin_2205_, "3857", block_of("0F06541234567890")))),
            reply({"47", "N", ""}));
}

TEST_F(ChangePin, WithoutOldBlockUnderOpt66) {
  EXPECT_EQ(run(s_, request(change("", "3856", pin_0654_))), error(1, 3, 3));
  s_.opt66 = 1;
  // The old PVV field is not compared, only checked for its form.
  EXPECT_EQ(run(s_, request(change("", "0000", pin_0654_))), reply({"47", "NO", "0885"}));
  EXPECT_EQ(run(s_, request(change("", "12", pin_0654_))), error(1, 7, 3));
  for (const std::string header :
       {"1VVNE000", "1VVNN000", "1VVVE000", "1VVVN000", "1VVGE000", "1VVGN000"}) {
    pvk_ = block_under_mfk(s_, header, kPvk);
    EXPECT_EQ(run(s_, request(change("", "0000", pin_0654_))), reply({"47", "NO", "0885"}))
        << header;
    // A generation key only serves a change without an old PIN block.
    const std::string expected = header[3] == 'G' ? error(6, 5, 620) : reply({"47", "Y", "0885"});
    EXPECT_EQ(run(s_, request(change(pin_2205_, "3856", pin_0654_))), expected) << header;
  }
}

TEST_F(ChangePin, PinBlocksWithoutValidPin) {
  struct Row {
    const char* name;
    const char* old_field;  // nullptr: no old PIN block (opt66 on)
    const char* old_pvv;
    const char* new_field;
    char opta1;
    const char* status;
  };
  const Row rows[] = {
      {"old length 3", "03220FFFFFFFFFFF", "3856", "040654FFFFFFFFFF", 'L', "LO"},
      {"old length 3, opta1 S", "03220FFFFFFFFFFF", "3856", "040654FFFFFFFFFF", 'S', "SO"},
      {"old format 2", "242205FFFFFFFFFF", "3856", "040654FFFFFFFFFF", 'L', "SO"},
      {"old padding", "042205FFFFFFFFF1", "3856", "040654FFFFFFFFFF", 'L', "SO"},
      {"old digit above 9", "04220EFFFFFFFFFF", "3856", "040654FFFFFFFFFF", 'L', "SO"},
      {"old and new both bad", "0F22050000000000", "3856", "140654FFFFFFFFFF", 'L', "LO"},
      {"new length 15", "042205FFFFFFFFFF", "3856", "0F06540000000000", 'L', "LN"},
      {"new length 15, opta1 S", "042205FFFFFFFFFF", "3856", "0F06540000000000", 'S', "SN"},
      {"new format 1", "042205FFFFFFFFFF", "3856", "140654FFFFFFFFFF", 'L', "SN"},
      {"new padding", "042205FFFFFFFFFF", "3856", "040654FFFFFF0FFF", 'L', "SN"},
      {"new digit above 9", "042205FFFFFFFFFF", "3856", "0406A4FFFFFFFFFF", 'L', "SN"},
      {"no old block, new length 2", nullptr, "0000", "0206FFFFFFFFFFFF", 'L', "LN"},
      {"no old block, new format 9", nullptr, "0000", "940654FFFFFFFFFF", 'L', "SN"},
  };
  for (const Row& row : rows) {
    s_.pin_sanity = row.opta1;
    s_.opt66 = row.old_field == nullptr;
    const std::string old_block = row.old_field == nullptr ? "" : block_of(row.old_field);
    EXPECT_EQ(run(s_, request(change(old_block, row.old_pvv, block_of(row.new_field)))),
              reply({"47", row.status, ""}))
        << row.name;
  }
}

TEST_F(ChangePin, ErrorRowsInOrder) {
  std::vector<ErrorRow> rows = {
      cut_to("eleven fields", 11, error(4, 12, 300)),
      set_field("method 1", 1, "1", error(3, 1, 203)),
      set_field("method 3A", 1, "3A", error(1, 1, 3)),
      set_field("type 7", 2, "7", error(3, 2, 203)),
      set_field("type 11", 2, "11", error(1, 2, 3)),
      set_field("empty old PIN block without opt66", 3, "", error(1, 3, 3)),
      set_field("old PIN block of 15 digits", 3, "0123456789ABCDE", error(1, 3, 3)),
      set_field("old PIN block with a dot", 3, "0123456789ABC.EF", error(2, 3, 102)),
  };
  for (ErrorRow& row : key_field_rows(s_, 4, "1PUDN000", "1PUEN000"))
    rows.push_back(row);
  for (ErrorRow& row : key_field_rows(s_, 5, "1VVNN000", "1VVGE000"))
    rows.push_back(row);
  const std::vector<ErrorRow> rest = {
      set_field("old PVV of 3 digits", 7, "385", error(1, 7, 3)),
      set_field("old PVV with a letter", 7, "385F", error(2, 7, 102)),
      set_field("key index with a letter", 8, "x", error(2, 8, 102)),
      set_field("key index 7", 8, "7", error(3, 8, 200)),
      set_field("key index 10", 8, "10", error(3, 8, 200)),
      set_field("PVV account of 12 digits", 9, "320000980360", error(1, 9, 3)),
      set_field("PVV account with a letter", 9, "3200009803a", error(2, 9, 102)),
      set_field("empty new PIN block", 10, "", error(1, 10, 3)),
      set_field("new PIN block of 17 digits", 10, "0123456789ABCDEF0", error(1, 10, 3)),
      set_field("new PIN block with a G", 10, "G123456789ABCDEF", error(2, 10, 102)),
      set_field("account of 11 digits", 11, "43200009803", error(1, 11, 3)),
      set_field("account with a letter", 11, "4320000980E6", error(2, 11, 102)),
  };
  rows.insert(rows.end(), rest.begin(), rest.end());
  expect_error_rows(s_, change(pin_2205_, "3856", pin_0654_), rows);
}

TEST_F(ChangePin, WithoutMfkTheKeyFieldIsRefused) {
  Settings none;
  none.opt21 = 1;
  EXPECT_EQ(run(none, request(change(pin_2205_, "3856", pin_0654_))), error(6, 0, 602));
}

}  // namespace
}  // namespace palisim
