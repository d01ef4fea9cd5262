#include <gtest/gtest.h>

#include <string>

#include "crypto/key_cache.h"
#include "data_test_util.h"
#include "server/connection.h"

namespace palisim::testing {
namespace {

constexpr char kKeySingle[] = "0123456789ABCDEF";
constexpr char kKeyDouble[] = "0123456789ABCDEFFEDCBA9876543210";
constexpr char kKeyTriple[] = "0123456789ABCDEFFEDCBA987654321089ABCDEF01234567";
constexpr char kKcvDouble[] = "08D7";
constexpr char kIvHeader[] = "1IDNE000";
// "Now is the time for all " in ASCII: three blocks.
constexpr char kText[] = "4E6F77206973207468652074696D6520666F7220616C6C20";

struct KeyCase {
  const char* key;
  const char* kcv;  // first digits of the key's encipherment of zeros
};
constexpr KeyCase kKeys[] = {
    {kKeySingle, "D5D4"},
    {kKeyDouble, kKcvDouble},
    {kKeyTriple, "3FD5"},
};

class DataCipher : public ::testing::Test {
 protected:
  void SetUp() override { s_.opt6c = 1; }

  std::string data_key(const char* key_hex, const char* header = "1DDNE000") {
    return block_under_mfk(s_, header, key_hex);
  }
  std::string iv_block(const std::string& iv_hex) { return block_under_mfk(s_, kIvHeader, iv_hex); }
  std::string cipher(const std::string& mode, const std::string& key_block,
                     const std::string& cv_field, const std::string& data,
                     const std::string& option = "1") {
    return run(s_, request({"97", mode, option, key_block, cv_field, "U",
                            std::to_string(data.size()), data}));
  }
  // The complete reply for data whose result (hex) ends in the chaining value.
  std::string expected(const std::string& mode, const char* kcv, const std::string& cv_field,
                       const std::string& out, const std::string& option = "1") {
    std::string next = out.empty() ? "" : out.substr(out.size() - 16);
    return reply(
        {"A7", mode, option, kcv, cv_field, iv_block(next), "U", std::to_string(out.size()), out});
  }

  Settings s_ = settings_with_mfk();
};

TEST_F(DataCipher, EncipherAndDecipherMatchOpenSslForEachKeyLength) {
  const std::string iv = "A0B1C2D3E4F50617";
  for (const KeyCase& k : kKeys) {
    SCOPED_TRACE(k.key);
    std::string block = data_key(k.key);
    std::string ct = oracle_cbc(k.key, kZeroIv, kText, true);
    EXPECT_EQ(cipher("E", block, "D", kText), expected("E", k.kcv, "D", ct));
    EXPECT_EQ(cipher("D", block, "D", ct),
              reply({"A7", "D", "1", k.kcv, "D", iv_block(ct.substr(32)), "U", "48", kText}));
    std::string ct_iv = oracle_cbc(k.key, iv, kText, true);
    EXPECT_EQ(cipher("E", block, iv_block(iv), kText, "6"),
              expected("E", k.kcv, iv_block(iv), ct_iv, "6"));
    EXPECT_EQ(
        cipher("D", block, iv_block(iv), ct_iv),
        reply({"A7", "D", "1", k.kcv, iv_block(iv), iv_block(ct_iv.substr(32)), "U", "48", kText}));
  }
}

TEST_F(DataCipher, EveryAcceptedHeaderOfTheDataKeyAndTheChainingValue) {
  for (const char* header :
       {"1DDNE000", "1DDNN000", "1DDEE000", "1DDEN000", "1DDDE000", "1DDDN000"}) {
    std::string ct = oracle_cbc(kKeyDouble, kZeroIv, kText, true);
    EXPECT_EQ(cipher("E", data_key(kKeyDouble, header), "D", kText),
              expected("E", kKcvDouble, "D", ct))
        << header;
  }
  for (const char* header : {"1IDNE000", "1IDNN000"}) {
    std::string iv = block_under_mfk(s_, header, "0011223344556677");
    std::string ct = oracle_cbc(kKeyDouble, "0011223344556677", kText, true);
    EXPECT_EQ(cipher("E", data_key(kKeyDouble), iv, kText), expected("E", kKcvDouble, iv, ct))
        << header;
  }
}

TEST_F(DataCipher, ShortDataIsPaddedWithZeroBytes) {
  std::string block = data_key(kKeyDouble);
  std::string ct = oracle_cbc(kKeyDouble, kZeroIv, "ABCDEF0000000000", true);
  EXPECT_EQ(cipher("E", block, "D", "ABCDEF"), expected("E", kKcvDouble, "D", ct));
  EXPECT_EQ(cipher("E", block, "D", "abcdef"), expected("E", kKcvDouble, "D", ct));
  // An odd last character carries no byte.
  EXPECT_EQ(cipher("E", block, "D", "ABCDEF1"), expected("E", kKcvDouble, "D", ct));
  std::string ct17 = oracle_cbc(kKeyDouble, kZeroIv, std::string(kText) + "FF00000000000000", true);
  EXPECT_EQ(cipher("E", block, "D", std::string(kText) + "FF"),
            expected("E", kKcvDouble, "D", ct17));
}

TEST_F(DataCipher, ZeroBytesGiveNoOutputAndTheChainingValueUnchanged) {
  std::string block = data_key(kKeyDouble);
  const std::string iv = "0102030405060708";
  for (const char* mode : {"E", "D"}) {
    EXPECT_EQ(cipher(mode, block, "D", ""),
              reply({"A7", mode, "1", kKcvDouble, "D", iv_block(kZeroIv), "U", "0", ""}));
    EXPECT_EQ(cipher(mode, block, iv_block(iv), ""),
              reply({"A7", mode, "1", kKcvDouble, iv_block(iv), iv_block(iv), "U", "0", ""}));
  }
  // One character is half a byte: nothing to process either.
  EXPECT_EQ(run(s_, request({"97", "E", "1", block, "D", "U", "1", "A"})),
            reply({"A7", "E", "1", kKcvDouble, "D", iv_block(kZeroIv), "U", "0", ""}));
}

TEST_F(DataCipher, AnEmptyChainingValueDrawsAFreshOneEveryRequest) {
  std::string block = data_key(kKeyDouble);
  std::string ivs[2];
  for (std::string& iv : ivs) {
    std::string answer = cipher("E", block, "", "0123456789ABCDEF");
    std::string fresh = reply_field(answer, 4);
    ASSERT_EQ(fresh.substr(0, 9), "1IDNE000,");
    iv = chaining_value_of(s_, fresh);
    ASSERT_EQ(iv.size(), 16u) << "the fresh block opens under the MFK";
    std::string ct = oracle_cbc(kKeyDouble, iv, "0123456789ABCDEF", true);
    EXPECT_EQ(answer, expected("E", kKcvDouble, fresh, ct));
    // The next chaining value block holds the one ciphertext block itself.
    EXPECT_EQ(chaining_value_of(s_, reply_field(answer, 5)), ct);
  }
  EXPECT_NE(ivs[0], ivs[1]);
}

TEST_F(DataCipher, RoundTripGivesBackThePaddedData) {
  const std::string plain = "00112233445566778899AABBCCDDEEFF0123456789";  // 21 bytes
  const std::string padded = plain + "000000";
  for (const KeyCase& k : kKeys) {
    SCOPED_TRACE(k.key);
    std::string block = data_key(k.key);
    std::string iv = iv_block("FEDCBA9876543210");
    std::string ct = reply_field(cipher("E", block, iv, plain), 8);
    ASSERT_EQ(ct.size(), 48u);
    EXPECT_EQ(reply_field(cipher("D", block, iv, ct), 8), padded);
  }
}

TEST_F(DataCipher, TheNextChainingValueContinuesTheChainInALaterRequest) {
  std::string block = data_key(kKeyTriple);
  std::string whole = cipher("E", block, "D", kText);
  std::string first = cipher("E", block, "D", std::string(kText).substr(0, 16));
  std::string rest = cipher("E", block, reply_field(first, 5), std::string(kText).substr(16));
  EXPECT_EQ(reply_field(first, 8) + reply_field(rest, 8), reply_field(whole, 8));
  EXPECT_EQ(reply_field(rest, 5), reply_field(whole, 5));

  std::string ct = reply_field(whole, 8);
  std::string back1 = cipher("D", block, "D", ct.substr(0, 32));
  std::string back2 = cipher("D", block, reply_field(back1, 5), ct.substr(32));
  EXPECT_EQ(reply_field(back1, 8) + reply_field(back2, 8), kText);
}

TEST_F(DataCipher, TheLongestRequestThatFitsTheInputBufferGetsItsWholeReply) {
  s_.opt88 = 1;  // the longer check value
  std::string block = data_key(kKeyDouble);
  // An empty chaining value field costs the request nothing and adds a second
  // block to the reply; a byte count one past a block boundary pads most.
  auto make = [&](size_t chars) {
    return request(
        {"97", "E", "1", block, "", "U", std::to_string(chars), std::string(chars, 'A')});
  };
  size_t chars = 0;
  while (make(chars + 2).size() + 1 <= static_cast<size_t>(kInputCapacity))  // + CR
    chars += 2;
  while ((chars / 2) % 8 != 1)
    chars -= 2;
  std::string text = make(chars);
  ASSERT_LE(text.size() + 1, static_cast<size_t>(kInputCapacity));
  ASSERT_GT(text.size() + 17, static_cast<size_t>(kInputCapacity)) << "within a block of the limit";

  char storage[kReplyCapacity];
  ReplyBuffer r{storage, 0};
  KeyCache keys;
  dispatch_request(s_, keys, text.data(), static_cast<int32_t>(text.size()), r);
  std::string answer(r.view());
  ASSERT_LT(answer.size(), static_cast<size_t>(kReplyCapacity)) << "nothing was cut";
  std::string padded = std::string(chars, 'A') + std::string(14, '0');
  std::string iv = chaining_value_of(s_, reply_field(answer, 4));
  std::string ct = oracle_cbc(kKeyDouble, iv, padded, true);
  EXPECT_EQ(answer,
            reply({"A7", "E", "1", "08D7B4", reply_field(answer, 4),
                   iv_block(ct.substr(ct.size() - 16)), "U", std::to_string(ct.size()), ct}));
}

TEST_F(DataCipher, EveryErrorInFieldOrder) {
  s_.opt6c = 0;
  const std::string key = data_key(kKeyDouble);
  std::string bad_comma = key;
  bad_comma[8] = '.';
  std::string bad_mac = key;
  bad_mac[60] = bad_mac[60] == '0' ? '1' : '0';
  const std::string single = data_key(kKeySingle);
  const std::string mac_key = data_key(kKeyDouble, "1MDNE000");
  const std::string iv = iv_block("0011223344556677");
  const std::string long_iv = iv_block(kKeyDouble);
  const std::string wrong_iv = block_under_mfk(s_, "1DDNE000", "0011223344556677");
  const std::string d = "0123456789ABCDEF";
  const std::string max_len = std::to_string(2 * 4096 + 1);
  struct Row {
    std::string request;
    std::string reply;
  };
  const Row rows[] = {
      {request({"97", "E", "1", key, "D", "U", "16"}), error(4, 8, 300)},
      {request({"97", "E", "1", key, "D", "U", "16", "^x"}), error(4, 8, 300)},
      {request({"97", "", "1", key, "D", "U", "16", d}), error(3, 1, 200)},
      {request({"97", "X", "1", key, "D", "U", "16", d}), error(3, 1, 200)},
      {request({"97", "e", "1", key, "D", "U", "16", d}), error(3, 1, 200)},
      {request({"97", "EE", "1", key, "D", "U", "16", d}), error(1, 1, 3)},
      {request({"97", "DX", "1", key, "D", "U", "16", d}), error(1, 1, 3)},
      {request({"97", "E", "", key, "D", "U", "16", d}), error(3, 2, 200)},
      {request({"97", "E", "2", key, "D", "U", "16", d}), error(3, 2, 200)},
      {request({"97", "E", "16", key, "D", "U", "16", d}), error(1, 2, 3)},
      {request({"97", "E", "1", key.substr(1), "D", "U", "16", d}), error(1, 3, 3)},
      {request({"97", "E", "1", bad_comma, "D", "U", "16", d}), error(2, 3, 102)},
      {request({"97", "E", "1", mac_key, "D", "U", "16", d}), error(6, 3, 620)},
      {request({"97", "E", "1", bad_mac, "D", "U", "16", d}), error(6, 3, 622)},
      {request({"97", "E", "1", single, "D", "U", "16", d}), error(6, 3, 209)},
      {request({"97", "D", "1", key, "", "U", "16", d}), error(3, 4, 200)},
      {request({"97", "E", "1", key, "d", "U", "16", d}), error(1, 4, 3)},
      {request({"97", "E", "1", key, "DD", "U", "16", d}), error(1, 4, 3)},
      {request({"97", "E", "1", key, wrong_iv, "U", "16", d}), error(6, 4, 620)},
      {request({"97", "E", "1", key, long_iv, "U", "16", d}), error(6, 4, 209)},
      {request({"97", "E", "1", key, iv, "B", "16", d}), error(3, 5, 203)},
      {request({"97", "E", "1", key, iv, "BU", "16", d}), error(3, 5, 203)},
      {request({"97", "E", "1", key, iv, "UB", "16", d}), error(1, 5, 3)},
      {request({"97", "E", "1", key, iv, "X", "16", d}), error(3, 5, 200)},
      {request({"97", "E", "1", key, iv, "u", "16", d}), error(3, 5, 200)},
      {request({"97", "E", "1", key, iv, "", "16", d}), error(3, 5, 200)},
      {request({"97", "E", "1", key, iv, "U", "", d}), error(1, 6, 3)},
      {request({"97", "E", "1", key, iv, "U", "1A", d}), error(2, 6, 102)},
      {request({"97", "E", "1", key, iv, "U", "-16", d}), error(2, 6, 102)},
      {request({"97", "E", "1", key, iv, "U", "8194", d}), error(3, 6, 200)},
      {request({"97", "E", "1", key, iv, "U", "8194", std::string(8194, '0')}), error(3, 6, 200)},
      {request({"97", "E", "1", key, iv, "U", "99999999999999999999", d}), error(3, 6, 200)},
      {request({"97", "D", "1", key, iv, "U", "24", "0123456789ABCDEF01234567"}), error(3, 6, 200)},
      {request({"97", "E", "1", key, iv, "U", max_len, d}), error(1, 7, 3)},
      {request({"97", "E", "1", key, iv, "U", "16", d.substr(1)}), error(1, 7, 3)},
      {request({"97", "E", "1", key, iv, "U", "16", d + "0"}), error(1, 7, 3)},
      {request({"97", "E", "1", key, iv, "U", "16", "0123456789ABCDEG"}), error(2, 7, 102)},
      {request({"97", "E", "1", key, iv, "U", "16", "01234567 9ABCDEF"}), error(2, 7, 102)},
      {request({"97", "E", "1", key, iv, "U", "7", "ABCDEFG"}), error(2, 7, 102)},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(run(s_, row.request), row.reply) << row.request.substr(0, 120);
  }
}

TEST_F(DataCipher, WithoutAnMfkTheKeyIsRefusedAgainstFieldZero) {
  std::string key = data_key(kKeyDouble);
  Settings none;
  none.opt21 = 1;
  EXPECT_EQ(run(none, request({"97", "E", "1", key, "D", "U", "16", "0123456789ABCDEF"})),
            error(6, 0, 602));
}

}  // namespace
}  // namespace palisim::testing
