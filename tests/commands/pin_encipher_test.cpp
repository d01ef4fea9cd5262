// Command 30: a clear PIN enciphered into a format 0 PIN block.
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

class EncipherPin : public ::testing::Test {
 protected:
  std::vector<std::string> request_for(const std::string& key, const std::string& pin,
                                       const std::string& account = kAccount) {
    return {"30", key, pin, account};
  }

  Settings s_ = settings_with_mfk();
  std::string pin_key_ = block_under_mfk(s_, "1PUNE000", kPinKey1);
};

TEST_F(EncipherPin, PublishedBlockByteForByte) {
  // PIN 1234 of account 4012345678909 under the X9.24 PIN key of KSN E00001.
  EXPECT_EQ(run(s_, request(request_for(pin_key_, "1234"))), reply({"40", kBlock1}));
  EXPECT_EQ(run(s_, "<30#" + pin_key_ + "#1234#401234567890#^echo 7#>"),
            "<40#" + kBlock1 + "#^echo 7#>\r\n");
  EXPECT_EQ(run(s_, "<30#" + pin_key_ + "#1234#401234567890#^#>"), "<40#" + kBlock1 + "#^#>\r\n");
  // Surplus fields are ignored.
  EXPECT_EQ(run(s_, "<30#" + pin_key_ + "#1234#401234567890#more#^e#>"),
            "<40#" + kBlock1 + "#^e#>\r\n");
  s_.opt23 = 1;
  EXPECT_EQ(run(s_, request(request_for(pin_key_, "1234"))), "<40#" + kBlock1 + "#>");
}

TEST_F(EncipherPin, EveryEncipheringHeaderAndKeyLength) {
  for (const std::string header : {"1PUNE000", "1PUNN000", "1PUEE000", "1PUEN000"}) {
    std::string key = block_under_mfk(s_, header, kPinKey1);
    EXPECT_EQ(run(s_, request(request_for(key, "1234"))), reply({"40", kBlock1})) << header;
  }
  // Three-key K1 K2 K1 is the same cipher as two-key K1 K2.
  std::string key24 = block_under_mfk(s_, "1PUNE000", kPinKey1 + kPinKey1.substr(0, 16));
  EXPECT_EQ(run(s_, request(request_for(key24, "1234"))), reply({"40", kBlock1}));
  // A single-length key, allowed by opt6c, enciphers with DES.
  s_.opt6c = 1;
  std::string key8 = block_under_mfk(s_, "1PUNE000", kSinglePinKey1);
  EXPECT_EQ(run(s_, request(request_for(key8, "1234"))),
            reply({"40", oracle_block(kSinglePinKey1, kClearBlock)}));
}

TEST_F(EncipherPin, PinLengthsFromOpta0ToTwelve) {
  struct Row {
    int opta0;
    const char* pin;
    const char* pin_field;  // nullptr: refused with 1/2/35 detail 3
  };
  const Row rows[] = {
      {4, "123", nullptr},
      {4, "1234", "041234FFFFFFFFFF"},
      {4, "12345678901", "0B12345678901FFF"},
      {4, "123456789012", "0C123456789012FF"},
      {4, "1234567890123", nullptr},
      {6, "12345", nullptr},
      {6, "123456", "06123456FFFFFFFF"},
      {12, "12345678901", nullptr},
      {12, "000000000000", "0C000000000000FF"},
      // Below four the option cannot go: a block holds at least four digits.
      {0, "123", nullptr},
      {-5, "1234", "041234FFFFFFFFFF"},
  };
  for (const Row& row : rows) {
    s_.min_pin_len = static_cast<int8_t>(row.opta0);
    const std::string expected =
        row.pin_field == nullptr
            ? error(1, 2, 3)
            : reply({"40", oracle_block(kPinKey1, clear_block(row.pin_field, kAccount))});
    EXPECT_EQ(run(s_, request(request_for(pin_key_, row.pin))), expected)
        << "opta0 " << row.opta0 << ", PIN " << row.pin;
  }
}

TEST_F(EncipherPin, ErrorRowsInOrder) {
  const std::vector<std::string> good = request_for(pin_key_, "1234");
  std::vector<ErrorRow> rows = {cut_to("three fields", 3, error(4, 4, 300))};
  for (ErrorRow& row : key_field_rows(s_, 1, "1PUNE000", "1PUDE000"))
    rows.push_back(row);
  const std::vector<ErrorRow> rest = {
      set_field("empty PIN", 2, "", error(1, 2, 3)),
      set_field("PIN of 3 digits", 2, "123", error(1, 2, 3)),
      set_field("PIN of 13 digits", 2, "1234567890123", error(1, 2, 3)),
      set_field("PIN with a letter", 2, "12A4", error(2, 2, 102)),
      set_field("PIN with a space", 2, "1234 ", error(2, 2, 102)),
      set_field("account of 11 digits", 3, "40123456789", error(1, 3, 3)),
      set_field("account of 13 digits", 3, "4012345678901", error(1, 3, 3)),
      set_field("account with a letter", 3, "40123456789X", error(2, 3, 102)),
  };
  rows.insert(rows.end(), rest.begin(), rest.end());
  expect_error_rows(s_, good, rows);
}

TEST_F(EncipherPin, WithoutMfkTheKeyFieldIsRefused) {
  Settings none;
  none.opt21 = 1;
  EXPECT_EQ(run(none, request(request_for(pin_key_, "1234"))), error(6, 0, 602));
  EXPECT_EQ(run(none, request(request_for(pin_key_, "12"))), error(6, 0, 602));
}

}  // namespace
}  // namespace palisim
