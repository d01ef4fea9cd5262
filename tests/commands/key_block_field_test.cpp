#include "commands/key_block_field.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "crypto/key_block.h"

namespace palisim {
namespace {

constexpr char kList[] = "1CDNE0001CDNN000";

// A connection's view with a double-length MFK (K1 K2, third part zero) and
// error replies that carry their detail code.
class ReadKeyBlockField : public ::testing::Test {
 protected:
  void SetUp() override {
    apply_default_settings(s_);
    s_.opt21 = 1;
    s_.opt23 = 1;  // replies end at '>'
    for (int i = 0; i < 16; ++i)
      s_.mfk[i] = static_cast<uint8_t>(0x11 * (i + 1));
    s_.mfk_len = 16;
    s_.mfk_present = 1;
    for (int i = 0; i < 24; ++i)
      key_in_[i] = static_cast<uint8_t>(0xA0 + i);
    for (int i = 0; i < 16; ++i)
      kek_[i] = static_cast<uint8_t>(0x30 + 3 * i);
  }

  std::string block_under_mfk(const char* header, int32_t key_len) {
    KeyBlockText t;
    build_key_block(s_.mfk.data(), 24, header, key_in_, key_len, t);
    return t.data();
  }

  // Runs the MFK reader on field 3; the reply text it wrote, "" when none.
  std::string read(const std::string& field, bool refuse_single = false,
                   std::string_view list = kList) {
    r_.len = 0;
    ok_ = read_key_block_field(field, 3, list, s_, keys_, r_, key_, refuse_single);
    EXPECT_EQ(ok_, r_.len == 0) << "a reply exactly when refused";
    return std::string(r_.view());
  }

  Settings s_;
  std::array<char, 5120> storage_{};
  ReplyBuffer r_{storage_};
  KeyCache keys_;
  const ReadyKey* key_ = nullptr;
  bool ok_ = false;
  uint8_t key_in_[24];
  uint8_t kek_[16];
};

TEST_F(ReadKeyBlockField, GoodBlockGivesKeyAndLengthAndNoReply) {
  for (int32_t key_len : {8, 16, 24}) {
    EXPECT_EQ(read(block_under_mfk("1CDNN000", key_len)), "");
    EXPECT_TRUE(ok_);
    EXPECT_EQ(key_->key.len, key_len);
    EXPECT_EQ(0, std::memcmp(key_->key.bytes.data(), key_in_, static_cast<size_t>(key_len)));
  }
}

TEST_F(ReadKeyBlockField, WrongLengthIsTypeOneDetailThree) {
  std::string good = block_under_mfk("1CDNE000", 16);
  EXPECT_EQ(read(good.substr(0, 73)), "<00#010335#0003##>");
  EXPECT_EQ(read(good + "0"), "<00#010335#0003##>");
  EXPECT_EQ(read(""), "<00#010335#0003##>");
}

TEST_F(ReadKeyBlockField, BadCommaOrDigitIsTypeTwoDetail102) {
  std::string good = block_under_mfk("1CDNE000", 16);
  for (size_t at : {size_t{8}, size_t{20}, size_t{57}, size_t{70}}) {
    std::string t = good;
    t[at] = 'X';
    EXPECT_EQ(read(t), "<00#020335#0102##>") << "character " << at;
  }
}

TEST_F(ReadKeyBlockField, HeaderIsCheckedBeforeTheMfkAndTheMac) {
  std::string foreign = block_under_mfk("1MDNE000", 16);
  EXPECT_EQ(read(foreign), "<00#060335#0620##>");
  foreign[60] = (foreign[60] == '0') ? '1' : '0';
  EXPECT_EQ(read(foreign), "<00#060335#0620##>");
  s_.mfk_present = 0;
  EXPECT_EQ(read(foreign), "<00#060335#0620##>");
  // The empty list takes any header.
  s_.mfk_present = 1;
  EXPECT_EQ(read(block_under_mfk("1MDNE000", 16), false, ""), "");
}

TEST_F(ReadKeyBlockField, MissingMfkIsReportedAgainstFieldZero) {
  std::string good = block_under_mfk("1CDNE000", 16);
  s_.mfk_present = 0;
  EXPECT_EQ(read(good), "<00#060035#0602##>");
}

TEST_F(ReadKeyBlockField, MacFailureIsDetail622) {
  std::string t = block_under_mfk("1CDNE000", 16);
  t[30] = (t[30] == 'A') ? 'B' : 'A';
  EXPECT_EQ(read(t), "<00#060335#0622##>");
}

TEST_F(ReadKeyBlockField, MfkWrapsAtTwentyFourBytesWhateverItsLength) {
  // Built under the two-key MFK as K1 K2 K1, the block does not verify.
  KeyBlockText t;
  build_key_block(s_.mfk.data(), 16, "1CDNE000", key_in_, 16, t);
  EXPECT_EQ(read(t.data()), "<00#060335#0622##>");
}

TEST_F(ReadKeyBlockField, SingleLengthRefusalFollowsOpt6c) {
  std::string single = block_under_mfk("1CDNE000", 8);
  EXPECT_EQ(read(single, true), "<00#060335#0209##>");
  EXPECT_EQ(read(single, false), "");
  EXPECT_EQ(key_->key.len, 8);
  s_.opt6c = 1;
  EXPECT_EQ(read(single, true), "");
  // Refusal concerns single-length keys only.
  s_.opt6c = 0;
  EXPECT_EQ(read(block_under_mfk("1CDNE000", 16), true), "");
}

TEST_F(ReadKeyBlockField, DetailCodeFollowsOpt21) {
  s_.opt21 = 0;
  EXPECT_EQ(read(block_under_mfk("1KDEE000", 16)), "<00#060335#>");
}

TEST_F(ReadKeyBlockField, UnderKeyUsesTheKekAndNeedsNoMfk) {
  KeyBlockText t;
  build_key_block(kek_, 16, "1CDNE000", key_in_, 24, t);
  std::string block = t.data();
  s_.mfk_present = 0;
  Key kek;
  std::memcpy(kek.bytes.data(), kek_, sizeof kek_);
  kek.len = sizeof kek_;

  r_.len = 0;
  EXPECT_TRUE(read_key_block_field_under_key(block, 2, kList, s_, keys_, r_, key_, true, kek));
  EXPECT_EQ(r_.len, 0);
  EXPECT_EQ(key_->key.len, 24);
  EXPECT_EQ(0, std::memcmp(key_->key.bytes.data(), key_in_, 24));

  kek.bytes[15] ^= 0x40;
  r_.len = 0;
  EXPECT_FALSE(read_key_block_field_under_key(block, 2, kList, s_, keys_, r_, key_, true, kek));
  EXPECT_EQ(r_.view(), "<00#060235#0622##>");
  kek.bytes[15] ^= 0x40;

  // The same checks precede the key: length first, then the header.
  r_.len = 0;
  EXPECT_FALSE(
      read_key_block_field_under_key(block.substr(1), 2, kList, s_, keys_, r_, key_, true, kek));
  EXPECT_EQ(r_.view(), "<00#010235#0003##>");
  r_.len = 0;
  EXPECT_FALSE(
      read_key_block_field_under_key(block, 2, "1CDNN000", s_, keys_, r_, key_, true, kek));
  EXPECT_EQ(r_.view(), "<00#060235#0620##>");
}

}  // namespace
}  // namespace palisim
