#include <gtest/gtest.h>

#include <string>

#include "data_test_util.h"

namespace palisim::testing {
namespace {

constexpr char kKeySingle[] = "0123456789ABCDEF";
constexpr char kKeyDouble[] = "0123456789ABCDEFFEDCBA9876543210";
constexpr char kKeyTriple[] = "0123456789ABCDEFFEDCBA987654321089ABCDEF01234567";
constexpr char kKcvSingle[] = "D5D4";
constexpr char kKcvDouble[] = "08D7";
constexpr char kKcvTriple[] = "3FD5";
constexpr char kIvHeader[] = "1IDNE000";
// "Now is the time for all " and "Now is the time for it" in ASCII.
constexpr char kAll[] = "4E6F77206973207468652074696D6520666F7220616C6C20";
constexpr char kIt[] = "4E6F77206973207468652074696D6520666F72206974";

// The MAC (hex) as the reply writes it: groups of four digits, one space apart.
std::string groups(const std::string& mac_hex, size_t bytes) {
  std::string out;
  for (size_t at = 0; at < 2 * bytes; at += 4) {
    if (at > 0) out += ' ';
    out.append(mac_hex, at, 4);
  }
  return out;
}

// ANSI X9.19 from OpenSSL's DES: CBC under the first key part for all blocks
// but the last, the whole key for the last.
std::string oracle_retail_mac(const std::string& key_hex, const std::string& iv_hex,
                              const std::string& data_hex) {
  std::string head = data_hex.substr(0, data_hex.size() - 16);
  std::string cv = head.empty() ? iv_hex : oracle_cbc_mac(key_hex.substr(0, 16), iv_hex, head);
  return oracle_cbc_mac(key_hex, cv, data_hex.substr(data_hex.size() - 16));
}

class MacCommands : public ::testing::Test {
 protected:
  void SetUp() override { s_.opt6c = 1; }

  std::string mac_key(const char* key_hex, const char* header = "1MDNE000") {
    return block_under_mfk(s_, header, key_hex);
  }
  std::string iv_block(const std::string& iv_hex) { return block_under_mfk(s_, kIvHeader, iv_hex); }
  std::string generate(const std::string& key_block, const std::string& indicator,
                       const std::string& algorithm, const std::string& cv,
                       const std::string& data) {
    return run(s_, request({"98", key_block, indicator, algorithm, cv, "U",
                            std::to_string(data.size()), data}));
  }
  std::string verify(const std::string& key_block, const std::string& algorithm,
                     const std::string& cv, const std::string& indicator, const std::string& data,
                     const std::string& mac) {
    return run(s_, request({"99", key_block, algorithm, cv, indicator, "U",
                            std::to_string(data.size()), data, mac}));
  }

  Settings s_ = settings_with_mfk();
};

TEST_F(MacCommands, PublishedRetailMacExamplesThroughGenerate) {
  // ISO/IEC 9797-1 Annex B, MAC algorithm 3 (the X9.19 retail MAC).
  std::string key = mac_key(kKeyDouble);
  EXPECT_EQ(generate(key, "3", "7", "", kAll),
            reply({"A8", "3", "A1C7 2E74 EA3F A9B6", kKcvDouble, "7"}));
  EXPECT_EQ(generate(key, "3", "7", "", kIt),
            reply({"A8", "3", "2E2B 1428 CC78 254F", kKcvDouble, "7"}));
}

TEST_F(MacCommands, PublishedX99MacThroughGenerate) {
  // ISO/IEC 9797-1 Annex B, MAC algorithm 1 with a single DES key (ANSI X9.9).
  std::string key = mac_key(kKeySingle);
  const std::string want = reply({"A8", "3", "70A3 0640 CC76 DD8B", kKcvSingle});
  EXPECT_EQ(generate(key, "3", "1", "", kAll), want);
  EXPECT_EQ(generate(key, "3", "", "", kAll), want) << "an empty algorithm means 1";
}

TEST_F(MacCommands, EachIndicatorGivesItsGroupsOrTheChainingValue) {
  std::string key = mac_key(kKeyDouble);
  struct Row {
    const char* indicator;
    std::string reply;
  };
  const Row rows[] = {
      {"0", reply({"A8", "0", iv_block("A1C72E74EA3FA9B6"), kKcvDouble, "7"})},
      {"1", reply({"A8", "1", "A1C7 2E74", kKcvDouble, "7"})},
      {"2", reply({"A8", "2", "A1C7 2E74 EA3F", kKcvDouble, "7"})},
      {"3", reply({"A8", "3", "A1C7 2E74 EA3F A9B6", kKcvDouble, "7"})},
      {"03", reply({"A8", "3", "A1C7 2E74 EA3F A9B6", kKcvDouble, "7"})},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(generate(key, row.indicator, "7", "", kAll), row.reply) << row.indicator;
  }
}

TEST_F(MacCommands, AlgorithmsZeroToSixAreTheCbcMacUnderTheWholeKey) {
  struct KeyCase {
    const char* key;
    const char* kcv;
  };
  const std::string iv = "F0E1D2C3B4A59687";
  for (KeyCase k : {KeyCase{kKeySingle, kKcvSingle}, KeyCase{kKeyDouble, kKcvDouble},
                    KeyCase{kKeyTriple, kKcvTriple}}) {
    std::string key = mac_key(k.key);
    std::string mac = oracle_cbc_mac(k.key, iv, kAll);
    for (const char* algorithm : {"0", "1", "2", "3", "4", "5"}) {
      EXPECT_EQ(generate(key, "3", algorithm, iv_block(iv), kAll),
                reply({"A8", "3", groups(mac, 8), k.kcv}))
          << k.key << " algorithm " << algorithm;
    }
    EXPECT_EQ(generate(key, "3", "6", iv_block(iv), kAll),
              reply({"A8", "3", groups(mac, 8), k.kcv, "6"}))
        << k.key;
    EXPECT_EQ(generate(key, "3", "06", iv_block(iv), kAll),
              reply({"A8", "3", groups(mac, 8), k.kcv, "6"}))
        << k.key;
  }
}

TEST_F(MacCommands, RetailMacMatchesOpenSslForEachKeyLength) {
  const std::string iv = "0011223344556677";
  const std::string data = std::string(kAll) + kIt + "00";  // 47 bytes, padded to 48
  struct KeyCase {
    const char* key;
    const char* kcv;
  };
  for (KeyCase k : {KeyCase{kKeyDouble, kKcvDouble}, KeyCase{kKeyTriple, kKcvTriple}}) {
    std::string mac = oracle_retail_mac(k.key, iv, data + "00");
    EXPECT_EQ(generate(mac_key(k.key), "3", "7", iv_block(iv), data),
              reply({"A8", "3", groups(mac, 8), k.kcv, "7"}))
        << k.key;
  }
}

TEST_F(MacCommands, RetailAndPlainAgreeForASingleLengthKey) {
  std::string key = mac_key(kKeySingle);
  for (const char* data : {"0123456789ABCDEF", kAll, kIt}) {
    std::string one = generate(key, "3", "1", "", data);
    EXPECT_EQ(reply_field(generate(key, "3", "7", "", data), 2), reply_field(one, 2)) << data;
  }
  // With a double-length key the two part ways once there is more than one block.
  std::string key2 = mac_key(kKeyDouble);
  EXPECT_NE(reply_field(generate(key2, "3", "7", "", kAll), 2),
            reply_field(generate(key2, "3", "1", "", kAll), 2));
  EXPECT_EQ(reply_field(generate(key2, "3", "7", "", "0123456789ABCDEF"), 2),
            reply_field(generate(key2, "3", "1", "", "0123456789ABCDEF"), 2));
}

TEST_F(MacCommands, ChainingALongMessageOverTwoRequestsEqualsOneRequest) {
  std::string message;
  for (int i = 0; i < 64; ++i)
    message += "0123456789ABCDEF";  // 512 bytes
  for (const char* key_hex : {kKeyDouble, kKeyTriple}) {
    std::string key = mac_key(key_hex);
    for (const char* algorithm : {"0", "1", "6"}) {
      std::string whole = generate(key, "3", algorithm, "", message);
      std::string first = generate(key, "0", algorithm, "", message.substr(0, 512));
      std::string rest = generate(key, "3", algorithm, reply_field(first, 2), message.substr(512));
      EXPECT_EQ(rest, whole) << key_hex << " algorithm " << algorithm;
      EXPECT_EQ(reply_field(whole, 2), groups(oracle_cbc_mac(key_hex, kZeroIv, message), 8));
    }
  }
}

TEST_F(MacCommands, VerifyAcceptsTheMacOfAGenerateReplyAtEachGroupCount) {
  const std::string iv = iv_block("1122334455667788");
  for (const char* key_hex : {kKeySingle, kKeyDouble, kKeyTriple}) {
    std::string key = mac_key(key_hex);
    for (const char* algorithm : {"1", "7"}) {
      for (const char* indicator : {"1", "2", "3"}) {
        SCOPED_TRACE(std::string(key_hex) + " algorithm " + algorithm + " indicator " + indicator);
        std::string made = generate(key, indicator, algorithm, iv, kIt);
        std::string mac = reply_field(made, 2);
        std::string tail = reply_field(made, 3) + (algorithm[0] == '7' ? "#7" : "");
        EXPECT_EQ(verify(key, algorithm, iv, indicator, kIt, mac),
                  reply({"A8", indicator, "Y", "", tail}));
        for (size_t at : {size_t{0}, mac.size() - 1}) {
          std::string changed = mac;
          changed[at] = changed[at] == '0' ? '1' : '0';
          EXPECT_EQ(verify(key, algorithm, iv, indicator, kIt, changed),
                    reply({"A8", indicator, "N", "", tail}))
              << changed;
        }
      }
    }
  }
}

TEST_F(MacCommands, VerifyComparesAsManyBytesAsFieldEightHolds) {
  std::string key = mac_key(kKeyDouble);
  struct Row {
    const char* indicator;
    const char* mac;
    const char* answer;
  };
  const Row rows[] = {
      {"1", "A1C7 2E74 EA3F A9B6", "Y"}, {"3", "A1C7 2E74", "Y"}, {"2", "a1c7 2e74 ea3f", "Y"},
      {"1", "A1C7-2E74", "Y"},  // the characters between groups are not read
      {"1", "A1C72E74E", "N"},  // the groups at 0 and 5 are "A1C7" and "E74E"
      {"1", "A1C7 2E74 EA3F A9B7", "N"}, {"3", "A1C7 2E75", "N"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(verify(key, "7", "", row.indicator, kAll, row.mac),
              reply({"A8", row.indicator, row.answer, "", kKcvDouble, "7"}))
        << row.mac;
  }
}

TEST_F(MacCommands, VerifyWithIndicatorZeroReturnsTheChainingValue) {
  std::string key = mac_key(kKeyDouble);
  EXPECT_EQ(verify(key, "", "", "0", kAll, ""),
            reply({"A8", "0", iv_block(oracle_cbc_mac(kKeyDouble, kZeroIv, kAll)), kKcvDouble}));
  EXPECT_EQ(verify(key, "7", "", "0", kAll, ""),
            reply({"A8", "0", iv_block("A1C72E74EA3FA9B6"), kKcvDouble, "7"}));
  EXPECT_EQ(verify(key, "7", "", "0", kAll, "A1C7 2E74"), error(1, 8, 3));
}

TEST_F(MacCommands, EchoFieldAndSurplusFields) {
  std::string key = mac_key(kKeyDouble);
  EXPECT_EQ(run(s_, request({"98", key, "1", "7", "", "U", "48", kAll, "extra", "^id"})),
            reply({"A8", "1", "A1C7 2E74", kKcvDouble, "7", "^id"}));
  EXPECT_EQ(run(s_, request({"99", key, "7", "", "1", "U", "48", kAll, "A1C7 2E74", "^"})),
            reply({"A8", "1", "Y", "", kKcvDouble, "7", "^"}));
}

TEST_F(MacCommands, GenerateErrorsInFieldOrder) {
  s_.opt6c = 0;
  const std::string key = mac_key(kKeyDouble);
  std::string bad_comma = key;
  bad_comma[57] = 'Z';
  std::string bad_mac = key;
  bad_mac[66] = bad_mac[66] == '0' ? '1' : '0';
  const std::string single = mac_key(kKeySingle);
  const std::string card_key = mac_key(kKeyDouble, "1CDNE000");
  const std::string long_iv = iv_block(kKeyDouble);
  const std::string wrong_iv = block_under_mfk(s_, "1MDNE000", "0011223344556677");
  const std::string d = kAll;
  struct Row {
    std::string request;
    std::string reply;
  };
  const Row rows[] = {
      {request({"98", key, "3", "7", "", "U", "48"}), error(4, 8, 300)},
      {request({"98", key, "3", "7", "", "U", "48", "^e"}), error(4, 8, 300)},
      {request({"98", key.substr(0, 73), "3", "7", "", "U", "48", d}), error(1, 1, 3)},
      {request({"98", bad_comma, "3", "7", "", "U", "48", d}), error(2, 1, 102)},
      {request({"98", card_key, "3", "7", "", "U", "48", d}), error(6, 1, 620)},
      {request({"98", bad_mac, "3", "7", "", "U", "48", d}), error(6, 1, 622)},
      {request({"98", single, "3", "7", "", "U", "48", d}), error(6, 1, 209)},
      {request({"98", key, "", "7", "", "U", "48", d}), error(1, 2, 3)},
      {request({"98", key, "A", "7", "", "U", "48", d}), error(2, 2, 102)},
      {request({"98", key, "-1", "7", "", "U", "48", d}), error(2, 2, 102)},
      {request({"98", key, "4", "7", "", "U", "48", d}), error(3, 2, 200)},
      {request({"98", key, "99999999999999", "7", "", "U", "48", d}), error(3, 2, 200)},
      {request({"98", key, "3", "X", "", "U", "48", d}), error(2, 3, 102)},
      {request({"98", key, "3", "8", "", "U", "48", d}), error(3, 3, 200)},
      {request({"98", key, "3", "7", "D", "U", "48", d}), error(1, 4, 3)},
      {request({"98", key, "3", "7", wrong_iv, "U", "48", d}), error(6, 4, 620)},
      {request({"98", key, "3", "7", long_iv, "U", "48", d}), error(6, 4, 209)},
      {request({"98", key, "3", "7", "", "B", "48", d}), error(3, 5, 203)},
      {request({"98", key, "3", "7", "", "UX", "48", d}), error(1, 5, 3)},
      {request({"98", key, "3", "7", "", "H", "48", d}), error(3, 5, 200)},
      {request({"98", key, "3", "7", "", "U", "", d}), error(1, 6, 3)},
      {request({"98", key, "3", "7", "", "U", "4 8", d}), error(2, 6, 102)},
      {request({"98", key, "3", "7", "", "U", "0", ""}), error(3, 6, 200)},
      {request({"98", key, "3", "7", "", "U", "1", "A"}), error(3, 6, 200)},
      {request({"98", key, "3", "7", "", "U", "8194", d}), error(3, 6, 200)},
      {request({"98", key, "3", "7", "", "U", "46", d}), error(1, 7, 3)},
      {request({"98", key, "3", "7", "", "U", "48", d.substr(0, 46) + "2G"}), error(2, 7, 102)},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(run(s_, row.request), row.reply) << row.request.substr(0, 140);
  }
}

TEST_F(MacCommands, VerifyErrorsInFieldOrder) {
  s_.opt6c = 0;
  const std::string key = mac_key(kKeyDouble);
  std::string bad_mac = key;
  bad_mac[70] = bad_mac[70] == '0' ? '1' : '0';
  const std::string single = mac_key(kKeySingle);
  const std::string data_key = mac_key(kKeyDouble, "1DDNE000");
  const std::string long_iv = iv_block(kKeyTriple);
  const std::string wrong_iv = block_under_mfk(s_, "1IDEE000", "0011223344556677");
  const std::string d = kAll;
  const std::string m = "A1C7 2E74";
  struct Row {
    std::string request;
    std::string reply;
  };
  const Row rows[] = {
      {request({"99", key, "7", "", "1", "U", "48", d}), error(4, 9, 300)},
      {request({"99", key, "7", "", "1", "U", "48", d, "^e"}), error(4, 9, 300)},
      {request({"99", "", "7", "", "1", "U", "48", d, m}), error(1, 1, 3)},
      {request({"99", data_key, "7", "", "1", "U", "48", d, m}), error(6, 1, 620)},
      {request({"99", bad_mac, "7", "", "1", "U", "48", d, m}), error(6, 1, 622)},
      {request({"99", single, "7", "", "1", "U", "48", d, m}), error(6, 1, 209)},
      {request({"99", key, "7a", "", "1", "U", "48", d, m}), error(2, 2, 102)},
      {request({"99", key, "9", "", "1", "U", "48", d, m}), error(3, 2, 200)},
      {request({"99", key, "7", wrong_iv, "1", "U", "48", d, m}), error(6, 3, 620)},
      {request({"99", key, "7", long_iv, "1", "U", "48", d, m}), error(6, 3, 209)},
      {request({"99", key, "7", "", "", "U", "48", d, m}), error(1, 4, 3)},
      {request({"99", key, "7", "", "x", "U", "48", d, m}), error(2, 4, 102)},
      {request({"99", key, "7", "", "5", "U", "48", d, m}), error(3, 4, 200)},
      {request({"99", key, "7", "", "1", "Bin", "48", d, m}), error(3, 5, 203)},
      {request({"99", key, "7", "", "1", "UU", "48", d, m}), error(1, 5, 3)},
      {request({"99", key, "7", "", "1", "", "48", d, m}), error(3, 5, 200)},
      {request({"99", key, "7", "", "1", "U", "", d, m}), error(1, 6, 3)},
      {request({"99", key, "7", "", "1", "U", "x", d, m}), error(2, 6, 102)},
      {request({"99", key, "7", "", "1", "U", "0", "", m}), error(3, 6, 200)},
      {request({"99", key, "7", "", "1", "U", "8194", d, m}), error(3, 6, 200)},
      {request({"99", key, "7", "", "1", "U", "50", d, m}), error(1, 7, 3)},
      {request({"99", key, "7", "", "1", "U", "48", d.substr(0, 47) + "x", m}), error(2, 7, 102)},
      {request({"99", key, "7", "", "1", "U", "48", d, ""}), error(1, 8, 3)},
      {request({"99", key, "7", "", "1", "U", "48", d, "A1C72E74"}), error(1, 8, 3)},
      {request({"99", key, "7", "", "3", "U", "48", d, "A1C7 2E74 EA3F A9B6 "}), error(1, 8, 3)},
      {request({"99", key, "7", "", "0", "U", "48", d, m}), error(1, 8, 3)},
      {request({"99", key, "7", "", "1", "U", "48", d, "A1C7 2E7G"}), error(2, 8, 102)},
      {request({"99", key, "7", "", "2", "U", "48", d, "A1C7 2E74 EA3G"}), error(2, 8, 102)},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(run(s_, row.request), row.reply) << row.request.substr(0, 140);
  }
}

TEST_F(MacCommands, WithoutAnMfkTheKeyIsRefusedAgainstFieldZero) {
  std::string key = mac_key(kKeyDouble);
  Settings none;
  none.opt21 = 1;
  EXPECT_EQ(run(none, request({"98", key, "3", "7", "", "U", "48", kAll})), error(6, 0, 602));
  EXPECT_EQ(run(none, request({"99", key, "7", "", "1", "U", "48", kAll, "A1C7 2E74"})),
            error(6, 0, 602));
}

}  // namespace
}  // namespace palisim::testing
