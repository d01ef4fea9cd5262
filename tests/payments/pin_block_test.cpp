// ISO 9564 PIN blocks: format 0 built, formats 0 and 3 taken apart, and the
// PIN fault character.
#include "payments/pin_block.h"

#include <gtest/gtest.h>

#include <string>

#include "pin_test_util.h"

namespace palisim {
namespace {

using testing::bytes_from_hex;
using testing::to_hex;
using testing::pin::clear_block;

std::string built(const std::string& pin, const std::string& account) {
  PinBlock out;
  build_pin_block(pin, account, out.data());
  return to_hex(out.data(), out.size());
}

TEST(PinBlock, NibblesAreNumberedFromTheHighHalfOfByteZero) {
  PinBlock b{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
  for (int i = 0; i < 16; ++i)
    EXPECT_EQ(get_nibble(b.data(), i), (i + 1) % 16) << "nibble " << i;
  set_nibble(b.data(), 0, 0xF);
  set_nibble(b.data(), 15, 0x7);
  EXPECT_EQ(to_hex(b.data(), b.size()), "F23456789ABCDEF7");
}

TEST(PinBlock, BuildsFormat0KnownAnswers) {
  struct Row {
    const char* pin;
    const char* account;
    const char* block;
  };
  const Row rows[] = {
      // ISO 9564-1 format 0 examples: PIN 1234 with PANs 4012345678909 and
      // 4441234567890123 (12 digits left of the check digit).
      {"1234", "401234567890", "041274EDCBA9876F"},
      {"1234", "123456789012", "041226CBA9876FED"},
      // Against a zero account the PIN field shows: ten F nibbles after four
      // digits, two after twelve.
      {"1234", "000000000000", "041234FFFFFFFFFF"},
      {"123456789012", "000000000000", "0C123456789012FF"},
      {"98765", "000000000000", "0598765FFFFFFFFF"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(built(row.pin, row.account), row.block) << row.pin << " / " << row.account;
}

TEST(PinBlock, ExtractGivesEveryCheckResult) {
  struct Row {
    const char* name;
    const char* pin_field;  // format, length, digits, padding, as nibbles
    PinCheckResult result;
    const char* pin;  // the PIN text when one is written
  };
  const Row rows[] = {
      {"format 0, four digits", "041234FFFFFFFFFF", kPinValid, "1234"},
      {"format 0, twelve digits", "0C123456789012FF", kPinValid, "123456789012"},
      {"format 0, fourteen digits, no padding", "0E12345678901234", kPinValid, "12345678901234"},
      {"format 3, padding not inspected", "341234A5B6C7D8E9", kPinValid, "1234"},
      {"format 3, decimal padding", "3612345601234567", kPinValid, "123456"},
      {"format 1", "141234FFFFFFFFFF", kPinBadFormat, nullptr},
      {"format 2", "241234FFFFFFFFFF", kPinBadFormat, nullptr},
      {"format 4", "441234FFFFFFFFFF", kPinBadFormat, nullptr},
      {"format F", "F41234FFFFFFFFFF", kPinBadFormat, nullptr},
      {"format bad and length bad", "131234FFFFFFFFFF", kPinBadFormat, nullptr},
      {"length 0", "00FFFFFFFFFFFFFF", kPinBadLength, nullptr},
      {"length 3", "03123FFFFFFFFFFF", kPinBadLength, nullptr},
      {"length 15", "0F12345678901234", kPinBadLength, nullptr},
      {"format 3, length 3", "3312312312312312", kPinBadLength, nullptr},
      {"length bad and padding bad", "0312300000000000", kPinBadLength, nullptr},
      {"last padding nibble", "041234FFFFFFFFFE", kPinBadPadding, nullptr},
      {"first padding nibble", "0412340FFFFFFFFF", kPinBadPadding, nullptr},
      {"padding bad and digit bad", "04123AFFFFFFFFF0", kPinBadPadding, nullptr},
      {"digit A", "04123AFFFFFFFFFF", kPinBadDigit, "123:"},
      {"digits A to F", "06ABCDEFFFFFFFFF", kPinBadDigit, ":;<=>?"},
      {"format 3 with digit F", "34F234F234F234F2", kPinBadDigit, "?234"},
  };
  for (const Row& row : rows) {
    for (const std::string account : {"000000000000", "401234567890"}) {
      std::string clear = bytes_from_hex(clear_block(row.pin_field, account));
      PinText pin;
      pin.digits.fill('#');
      pin.len = -1;
      PinCheckResult result =
          extract_pin(reinterpret_cast<const uint8_t*>(clear.data()), account, pin);
      EXPECT_EQ(result, row.result) << row.name << ", account " << account;
      if (row.pin == nullptr) {
        EXPECT_EQ(pin.len, -1) << row.name << ": no PIN text written";
        EXPECT_EQ(pin.digits[0], '#') << row.name;
      } else {
        EXPECT_EQ(std::string(pin.view()), row.pin) << row.name;
        EXPECT_EQ(pin.digits[pin.len], '\0') << row.name;
      }
    }
  }
}

TEST(PinBlock, ExtractUndoesBuild) {
  for (const std::string pin : {"0000", "1234", "99999", "123456789012"}) {
    for (const std::string account : {"000000000000", "401234567890", "999999999999"}) {
      PinBlock block;
      build_pin_block(pin, account, block.data());
      PinText text;
      EXPECT_EQ(extract_pin(block.data(), account, text), kPinValid) << pin << " / " << account;
      EXPECT_EQ(std::string(text.view()), pin);
    }
  }
}

TEST(PinBlock, ExtractUsesTheAccountGiven) {
  // The block of PIN 1234 for one account read against another: the account
  // nibbles land in the padding, so format 0 padding fails.
  PinBlock block;
  build_pin_block("1234", "401234567890", block.data());
  PinText text;
  EXPECT_EQ(extract_pin(block.data(), "401234567891", text), kPinBadPadding);
}

TEST(PinBlock, FaultCharacterIsOpta1ForLengthOnly) {
  struct Row {
    PinCheckResult result;
    char opta1;
    char expected;
  };
  const Row rows[] = {
      {kPinBadFormat, 'L', 'S'}, {kPinBadFormat, 'S', 'S'},  {kPinBadLength, 'L', 'L'},
      {kPinBadLength, 'S', 'S'}, {kPinBadPadding, 'L', 'S'}, {kPinBadPadding, 'S', 'S'},
      {kPinBadDigit, 'L', 'S'},  {kPinBadDigit, 'S', 'S'},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(pin_fault_character(row.result, row.opta1), row.expected)
        << "result " << row.result << ", opta1 " << row.opta1;
  }
}

}  // namespace
}  // namespace palisim
