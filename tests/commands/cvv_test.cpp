#include "payments/cvv.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "data_test_util.h"

namespace palisim::testing {
namespace {

// Visa's worked example: PAN 4123456789012345, expiry 8701, service code 101.
constexpr char kVisaCardData[] = "41234567890123458701101";
constexpr char kCvkSingle[] = "0123456789ABCDEF";
constexpr char kCvkDouble[] = "0123456789ABCDEFFEDCBA9876543210";  // CVK A, CVK B
constexpr char kCvkTriple[] = "0123456789ABCDEFFEDCBA987654321089ABCDEF01234567";
// Check values: the first digits of each key's encipherment of zeros.
constexpr char kKcvSingle[] = "D5D4";
constexpr char kKcvDouble[] = "08D7";
constexpr char kKcvTriple[] = "3FD5";

std::string digits_of(const std::string& card_data, const std::string& key_hex) {
  Key key;
  std::string bytes = bytes_from_hex(key_hex);
  std::memcpy(key.bytes.data(), bytes.data(), bytes.size());
  key.len = static_cast<int32_t>(bytes.size());
  CardVerificationDigits out;
  card_verification_digits(card_data, key, out);
  return out.data();
}

TEST(CardVerificationDigits, KnownAnswers) {
  // Expected values worked out with the openssl command line's DES.
  struct Row {
    const char* card_data;
    const char* key;
    const char* digits;
  };
  const Row rows[] = {
      {kVisaCardData, kCvkDouble, "5614982039714233"},  // the published CVV 561
      {kVisaCardData, kCvkSingle, "5104625944670002"},
      {kVisaCardData, kCvkTriple, "1815934952202223"},
      {"5", kCvkDouble, "5184136750254255"},
      {"12345678901234567890123456789012", kCvkDouble, "2773310900400251"},
      // 06BADAF0FA2F3BFA: five decimal digits, the letters B A D A F F A F B F A fill the rest.
      {"400000000000006", kCvkDouble, "0602310305505150"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(digits_of(row.card_data, row.key), row.digits) << row.card_data << " " << row.key;
  }
}

TEST(CardVerificationDigits, ShortCardDataIsPaddedWithZeroDigits) {
  EXPECT_EQ(digits_of("5", kCvkDouble), digits_of("50000000000000000000000000000000", kCvkDouble));
  EXPECT_EQ(digits_of(kVisaCardData, kCvkDouble),
            digits_of("41234567890123458701101000000000", kCvkDouble));
}

TEST(CardVerificationDigits, TripleKeyWithThirdPartEqualToFirstIsTheDoubleKey) {
  EXPECT_EQ(digits_of(kVisaCardData, std::string(kCvkDouble) + kCvkSingle),
            digits_of(kVisaCardData, kCvkDouble));
}

class CardCommands : public ::testing::Test {
 protected:
  std::string card_key(const char* key_hex, const char* header = "1CDNE000") {
    return block_under_mfk(s_, header, key_hex);
  }
  std::string generate(const std::string& key_block, const std::string& card_data) {
    return run(s_, request({"5D", "1", key_block, "", card_data}));
  }
  std::string verify(const std::string& key_block, const std::string& card_data,
                     const std::string& value) {
    return run(s_, request({"5E", "1", key_block, "", card_data, value}));
  }
  Settings s_ = settings_with_mfk();
};

TEST_F(CardCommands, GenerateGivesTheFirstEightDigitsAndTheCheckValue) {
  s_.opt6c = 1;
  struct Row {
    const char* key;
    const char* card_data;
    std::string reply;
  };
  const Row rows[] = {
      {kCvkDouble, kVisaCardData, reply({"6D", "56149820", kKcvDouble, ""})},
      {kCvkSingle, kVisaCardData, reply({"6D", "51046259", kKcvSingle, ""})},
      {kCvkTriple, kVisaCardData, reply({"6D", "18159349", kKcvTriple, ""})},
      {kCvkDouble, "400000000000006", reply({"6D", "06023103", kKcvDouble, ""})},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(generate(card_key(row.key), row.card_data), row.reply) << row.key;
  }
}

TEST_F(CardCommands, EveryAcceptedHeaderServesBothCommands) {
  for (const char* header : {"1CDNE000", "1CDNN000", "1CDGE000", "1CDGN000"}) {
    std::string block = card_key(kCvkDouble, header);
    EXPECT_EQ(generate(block, kVisaCardData), reply({"6D", "56149820", kKcvDouble, ""})) << header;
    EXPECT_EQ(verify(block, kVisaCardData, "561"), reply({"6D", "Y", kKcvDouble, ""})) << header;
  }
}

TEST_F(CardCommands, LongCheckValueAndEchoField) {
  s_.opt88 = 1;
  std::string block = card_key(kCvkDouble);
  EXPECT_EQ(run(s_, request({"5D", "1", block, "", kVisaCardData, "^ref 7"})),
            reply({"6D", "56149820", "08D7B4", "", "^ref 7"}));
  EXPECT_EQ(run(s_, request({"5E", "1", block, "", kVisaCardData, "561", "^"})),
            reply({"6D", "Y", "08D7B4", "", "^"}));
}

TEST_F(CardCommands, SurplusFieldsAreIgnored) {
  std::string block = card_key(kCvkDouble);
  EXPECT_EQ(run(s_, request({"5D", "1", block, "", kVisaCardData, "extra"})),
            reply({"6D", "56149820", kKcvDouble, ""}));
  EXPECT_EQ(run(s_, request({"5E", "1", block, "", kVisaCardData, "561", "extra"})),
            reply({"6D", "Y", kKcvDouble, ""}));
}

TEST_F(CardCommands, VerifyComparesAsManyDigitsAsTheHostSends) {
  std::string block = card_key(kCvkDouble);
  struct Row {
    const char* value;
    const char* answer;
  };
  const Row rows[] = {
      {"561", "Y"}, {"56149820", "Y"}, {"5", "Y"}, {"5614", "Y"},     {"562", "N"},
      {"461", "N"}, {"56149821", "N"}, {"6", "N"}, {"56149829", "N"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(verify(block, kVisaCardData, row.value), reply({"6D", row.answer, kKcvDouble, ""}))
        << row.value;
  }
}

TEST_F(CardCommands, VerifyAcceptsWhatGenerateGave) {
  s_.opt6c = 1;
  for (const char* key : {kCvkSingle, kCvkDouble, kCvkTriple}) {
    std::string block = card_key(key);
    for (const char* card_data : {"1", "4999988887777000", "12345678901234567890123456789012"}) {
      std::string value = reply_field(generate(block, card_data), 1);
      ASSERT_EQ(value.size(), 8u);
      EXPECT_EQ(reply_field(verify(block, card_data, value), 1), "Y") << key << " " << card_data;
      EXPECT_EQ(reply_field(verify(block, card_data, value.substr(0, 3)), 1), "Y");
      value[2] = value[2] == '9' ? '0' : static_cast<char>(value[2] + 1);
      EXPECT_EQ(reply_field(verify(block, card_data, value), 1), "N") << key << " " << card_data;
    }
  }
}

TEST_F(CardCommands, AlgorithmIndicatorIsOneCharacterOrBeginsWithThree) {
  std::string block = card_key(kCvkDouble);
  const std::string ok = reply({"6D", "56149820", kKcvDouble, ""});
  struct Row {
    const char* indicator;
    std::string reply;
  };
  const Row rows[] = {
      {"1", ok},
      {"X", ok},
      {" ", ok},
      {"3", ok},
      {"3ab", ok},
      {"31", ok},
      {"", error(3, 2, 203)},
      {"12", error(3, 2, 203)},
      {"AB", error(3, 2, 203)},
      {"13", error(3, 2, 203)},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(run(s_, request({"5D", row.indicator, block, "", kVisaCardData})), row.reply)
        << "'" << row.indicator << "'";
    EXPECT_EQ(run(s_, request({"5E", row.indicator, block, "", kVisaCardData, "561"})),
              row.reply == ok ? reply({"6D", "Y", kKcvDouble, ""}) : row.reply)
        << "'" << row.indicator << "'";
  }
  // With field 2 empty as well, the key block check answers.
  EXPECT_EQ(run(s_, request({"5D", "", "", "", kVisaCardData})), error(1, 2, 3));
}

TEST_F(CardCommands, EveryErrorInFieldOrder) {
  const std::string good = card_key(kCvkDouble);
  std::string bad_comma = good;
  bad_comma[57] = ';';
  std::string bad_mac = good;
  bad_mac[73] = bad_mac[73] == '0' ? '1' : '0';
  const std::string single = card_key(kCvkSingle);
  const std::string v_header = card_key(kCvkDouble, "1CDVE000");
  const std::string mac_key = card_key(kCvkDouble, "1MDNE000");
  const std::string d = kVisaCardData;
  struct Row {
    std::string request;
    std::string reply;
  };
  const Row rows[] = {
      {request({"5D", "1", good, ""}), error(4, 5, 300)},
      {request({"5D", "1", good, "", "^echo"}), error(4, 5, 300)},
      {request({"5E", "1", good, "", d}), error(4, 6, 300)},
      {request({"5D", "22", good, "", d}), error(3, 2, 203)},
      {request({"5D", "1", good.substr(0, 73), "", d}), error(1, 2, 3)},
      {request({"5D", "1", good + "0", "", d}), error(1, 2, 3)},
      {request({"5D", "1", bad_comma, "", d}), error(2, 2, 102)},
      {request({"5D", "1", v_header, "", d}), error(6, 2, 620)},
      {request({"5E", "1", mac_key, "", d, "561"}), error(6, 2, 620)},
      {request({"5D", "1", bad_mac, "", d}), error(6, 2, 622)},
      {request({"5E", "1", single, "", d, "561"}), error(6, 2, 209)},
      {request({"5D", "1", single, "", d}), error(6, 2, 209)},
      {request({"5D", "1", good, "", ""}), error(1, 4, 3)},
      {request({"5D", "1", good, "", "123456789012345678901234567890123"}), error(1, 4, 3)},
      {request({"5E", "1", good, "", "4123x", "561"}), error(2, 4, 102)},
      {request({"5E", "1", good, "", "-4123", "561"}), error(2, 4, 102)},
      {request({"5E", "1", good, "", d, ""}), error(1, 5, 3)},
      {request({"5E", "1", good, "", d, "561498201"}), error(1, 5, 3)},
      {request({"5E", "1", good, "", d, "56A"}), error(2, 5, 102)},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(run(s_, row.request), row.reply) << row.request;
  }
}

TEST_F(CardCommands, WithoutAnMfkTheKeyIsRefusedAgainstFieldZero) {
  const std::string block = card_key(kCvkDouble);
  Settings none;
  none.opt21 = 1;
  EXPECT_EQ(run(none, request({"5D", "1", block, "", kVisaCardData})), error(6, 0, 602));
  EXPECT_EQ(run(none, request({"5E", "1", block, "", kVisaCardData, "561"})), error(6, 0, 602));
}

TEST_F(CardCommands, ErrorRepliesWithoutDetail) {
  s_.opt21 = 0;
  EXPECT_EQ(run(s_, request({"5E", "1", card_key(kCvkDouble), "", kVisaCardData, ""})),
            "<00#010535#>\r\n");
}

}  // namespace
}  // namespace palisim::testing
