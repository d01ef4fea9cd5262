#include "crypto/key_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crypto/header_list.h"
#include "des_oracle.h"
#include "hex_text.h"

namespace palisim {
namespace {

using Key24 = std::array<uint8_t, 24>;
using testing::oracle_cbc;
using testing::to_hex;

Key24 random_key(std::mt19937& gen) {
  Key24 k;
  for (auto& b : k)
    b = static_cast<uint8_t>(gen());
  return k;
}

std::string build(const uint8_t* w, int32_t w_len, const std::string& header, const uint8_t* key,
                  int32_t key_len) {
  KeyBlockText out;
  out.fill('?');
  build_key_block(w, w_len, header, key, key_len, out);
  EXPECT_EQ(out[kKeyBlockLen], '\0');
  return std::string(out.data(), kKeyBlockLen);
}

// The block format rebuilt from its definition with OpenSSL's DES: wrapping
// key XOR 'E' / 'M', padded key enciphered in CBC under the header, CBC-MAC
// over header and enciphered key.
std::string oracle_block(const uint8_t* w, int32_t w_len, const std::string& header,
                         const uint8_t* key, int32_t key_len) {
  auto masked = [&](uint8_t mask) {
    std::vector<uint8_t> k(w, w + w_len);
    for (uint8_t& b : k)
      b ^= mask;
    return k;
  };
  std::vector<uint8_t> padded(24, key_len == 16 ? 'D' : 'S');
  std::copy(key, key + key_len, padded.begin());
  std::vector<uint8_t> run(header.begin(), header.begin() + 8);
  std::vector<uint8_t> enciphered = oracle_cbc(masked('E'), run, padded, true);
  run.insert(run.end(), enciphered.begin(), enciphered.end());
  std::vector<uint8_t> mac_run = oracle_cbc(masked('M'), std::vector<uint8_t>(8, 0), run, true);
  return header + "," + to_hex(enciphered.data(), 24) + "," + to_hex(mac_run.data() + 24, 8);
}

const char* const kHeaders[] = {"1KDEE000", "1PUNE000", "1CDNN000", "1IDNE000"};

TEST(KeyBlockBuild, MatchesIndependentConstructionForEveryLength) {
  std::mt19937 gen(74);
  for (int32_t w_len : {8, 16, 24}) {
    for (int32_t key_len : {8, 16, 24}) {
      for (const char* header : kHeaders) {
        SCOPED_TRACE("wrap " + std::to_string(w_len) + ", key " + std::to_string(key_len) + ", " +
                     header);
        Key24 w = random_key(gen);
        Key24 key = random_key(gen);
        EXPECT_EQ(build(w.data(), w_len, header, key.data(), key_len),
                  oracle_block(w.data(), w_len, header, key.data(), key_len));
      }
    }
  }
}

TEST(KeyBlockBuild, OpensWithSameWrappingKeyToSameKeyAndLength) {
  std::mt19937 gen(75);
  for (int32_t w_len : {8, 16, 24}) {
    for (int32_t key_len : {8, 16, 24}) {
      SCOPED_TRACE("wrap " + std::to_string(w_len) + ", key " + std::to_string(key_len));
      Key24 w = random_key(gen);
      Key24 key_in = random_key(gen);
      std::string block = build(w.data(), w_len, "1DDNE000", key_in.data(), key_len);
      EXPECT_TRUE(check_key_block_form(block));
      Key key;
      ASSERT_TRUE(open_key_block(w.data(), w_len, block, key));
      EXPECT_EQ(key.len, key_len);
      EXPECT_EQ(0, std::memcmp(key.bytes.data(), key_in.data(), static_cast<size_t>(key_len)));

      Key24 other = w;
      other[3] ^= 0x10;
      EXPECT_FALSE(open_key_block(other.data(), w_len, block, key));
    }
  }
}

TEST(KeyBlockBuild, DoubleLengthWrapEqualsTripleK1K2K1) {
  std::mt19937 gen(16);
  Key24 w = random_key(gen);
  Key24 w3 = w;
  std::memcpy(w3.data() + 16, w.data(), 8);
  Key24 key = random_key(gen);
  EXPECT_EQ(build(w.data(), 16, "1MDNE000", key.data(), 16),
            build(w3.data(), 24, "1MDNE000", key.data(), 16));
  // A zero third part is a different wrapping key.
  Key24 w0 = w;
  std::memset(w0.data() + 16, 0, 8);
  EXPECT_NE(build(w.data(), 16, "1MDNE000", key.data(), 16),
            build(w0.data(), 24, "1MDNE000", key.data(), 16));
}

TEST(KeyBlockBuild, HeaderChainsIntoEveryEncipheredBlock) {
  std::mt19937 gen(8);
  Key24 w = random_key(gen);
  Key24 key = random_key(gen);
  std::string a = build(w.data(), 24, "1PUNE000", key.data(), 24);
  std::string b = build(w.data(), 24, "1PUNN000", key.data(), 24);
  for (size_t part = 0; part < 3; ++part) {
    EXPECT_NE(a.substr(9 + 16 * part, 16), b.substr(9 + 16 * part, 16)) << "part " << part;
  }
}

class KeyBlockTamper : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 gen(622);
    w_ = random_key(gen);
    Key24 k = random_key(gen);
    block_ = build(w_.data(), 24, "1VVNE000", k.data(), 16);
  }
  bool opens(const std::string& block) {
    Key key;
    return open_key_block(w_.data(), 24, block, key);
  }
  Key24 w_;
  std::string block_;
};

TEST_F(KeyBlockTamper, AnyChangedHeaderOrHexCharacterFails) {
  ASSERT_TRUE(opens(block_));
  for (size_t i = 0; i < kKeyBlockLen; ++i) {
    if (i == 8 || i == 57) continue;
    std::string t = block_;
    if (i < 8) {
      t[i] = static_cast<char>(t[i] ^ 0x01);
    } else {
      t[i] = (t[i] == '0') ? '1' : '0';
    }
    EXPECT_FALSE(opens(t)) << "character " << i;
  }
}

TEST_F(KeyBlockTamper, LetterCaseOfHexDigitsDoesNotMatter) {
  std::string lower = block_;
  for (size_t i = 9; i < kKeyBlockLen; ++i) {
    lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(lower[i])));
  }
  ASSERT_NE(lower, block_);
  EXPECT_TRUE(check_key_block_form(lower));
  EXPECT_TRUE(opens(lower));
}

TEST(KeyBlockPadding, FillerDecidesTheLengthRead) {
  std::mt19937 gen(44);
  Key24 w = random_key(gen);
  struct Case {
    const char* name;
    bool s_in_second;  // bytes 8..15 set to 'S'
    char third;        // bytes 16..23 set to this, or left random when 0
    int32_t want_len;
  };
  const Case cases[] = {
      {"third part all D", false, 'D', 16},
      {"second and third parts all S", true, 'S', 8},
      {"second part all S, third random", true, 0, 24},
      {"third part all S, second random", false, 'S', 24},
      {"second all S, third all D", true, 'D', 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Key24 key_in = random_key(gen);
    if (c.s_in_second) std::memset(key_in.data() + 8, 'S', 8);
    if (c.third != 0) std::memset(key_in.data() + 16, c.third, 8);
    std::string block = build(w.data(), 24, "1KDNE000", key_in.data(), 24);
    Key key;
    ASSERT_TRUE(open_key_block(w.data(), 24, block, key));
    EXPECT_EQ(key.len, c.want_len);
    EXPECT_EQ(0, std::memcmp(key.bytes.data(), key_in.data(), 24));
  }
}

TEST(KeyBlockForm, AcceptsOnlyCommasAndHexInTheirPlaces) {
  std::mt19937 gen(102);
  Key24 w = random_key(gen);
  std::string good = build(w.data(), 24, "1CDNE000", w.data(), 8);
  EXPECT_TRUE(check_key_block_form(good));

  // The header is not part of the form check.
  std::string odd_header = good;
  odd_header.replace(0, 8, "#,zz  !!");
  EXPECT_TRUE(check_key_block_form(odd_header));

  struct Case {
    const char* name;
    size_t at;
    char c;
  };
  const Case bad[] = {{"no first comma", 8, '0'},   {"no second comma", 57, 'A'},
                      {"G in the key", 9, 'G'},     {"space in the key", 56, ' '},
                      {"G in the MAC", 58, 'g'},    {"comma in the MAC", 73, ','},
                      {"minus in the key", 30, '-'}};
  for (const Case& c : bad) {
    std::string t = good;
    t[c.at] = c.c;
    EXPECT_FALSE(check_key_block_form(t)) << c.name;
  }
  EXPECT_FALSE(check_key_block_form(good.substr(0, 73)));
  EXPECT_FALSE(check_key_block_form(good + "0"));
  EXPECT_FALSE(check_key_block_form(""));
}

TEST(HeaderList, WholeEightCharacterEntriesOnly) {
  const std::string block = "1CDGE000,";
  EXPECT_TRUE(header_in_list(block, ""));
  EXPECT_TRUE(header_in_list(block, "1CDNE0001CDNN0001CDGE0001CDGN000"));
  EXPECT_TRUE(header_in_list("1CDGN000", "1CDNE0001CDNN0001CDGE0001CDGN000"));
  EXPECT_FALSE(header_in_list("1CDGV000", "1CDNE0001CDNN0001CDGE0001CDGN000"));
  // Only entry boundaries count: "DGE0001C" spans two entries.
  EXPECT_FALSE(header_in_list("DGE0001C", "1CDNE0001CDGE0001CDGN000"));
  // A trailing partial entry matches nothing.
  EXPECT_FALSE(header_in_list("1CDNE000", "1CDNN0001CDNE"));
}

TEST(HeaderList, EntryStartingWithNulEndsTheList) {
  const char list[] = "1PUNE000\0PUNN0001PUEE000";
  std::string_view with_nul(list, sizeof list - 1);
  EXPECT_TRUE(header_in_list("1PUNE000", with_nul));
  EXPECT_FALSE(header_in_list("1PUEE000", with_nul));
}

TEST(UsageLetter, SecondHeaderCharacterAgainstLetters) {
  EXPECT_TRUE(usage_letter_allowed("1KDNE000", "PKV"));
  EXPECT_TRUE(usage_letter_allowed("1dDNE000", "d"));
  EXPECT_FALSE(usage_letter_allowed("1dDNE000", "D"));
  EXPECT_FALSE(usage_letter_allowed("1KDNE000", "PV"));
  EXPECT_FALSE(usage_letter_allowed("1KDNE000", ""));
}

}  // namespace
}  // namespace palisim
