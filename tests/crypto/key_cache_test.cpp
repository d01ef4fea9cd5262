// The cache of opened keys: which blocks it serves without opening them, and
// that keys it gives up or clears leave nothing behind.
#include "crypto/key_cache.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <memory>
#include <string>
#include <string_view>

namespace palisim {
namespace {

// Keys 0 to 15 of 16 bytes each, no two alike; 14 serves as the MFK (its
// whole 24-byte buffer wraps) and 15 as a KEK.
class KeyCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 16; ++i) {
      for (int b = 0; b < 16; ++b)
        keys_of_[i].bytes[b] = static_cast<uint8_t>(16 * i + b);
      keys_of_[i].len = 16;
    }
    keys_of_[14].len = 24;
  }
  std::string block(int wrapping, int key) {
    KeyBlockText out;
    build_key_block(keys_of_[wrapping].bytes.data(), keys_of_[wrapping].len, "1PUNE000",
                    keys_of_[key].bytes.data(), 16, out);
    return out.data();
  }
  const ReadyKey* open(const std::string& text) {
    return cache_->open_under_mfk(text, keys_of_[14].bytes.data());
  }
  // Whether the cache's own bytes hold key i anywhere.
  bool holds(int i) {
    std::string_view bytes(reinterpret_cast<const char*>(cache_.get()), sizeof(KeyCache));
    return bytes.find({reinterpret_cast<const char*>(keys_of_[i].bytes.data()), 16}) != bytes.npos;
  }
  std::array<Key, 16> keys_of_;
  std::unique_ptr<KeyCache> cache_ = std::make_unique<KeyCache>();  // zeroed before use
};

TEST_F(KeyCacheTest, OnlyTheSameTextUnderTheSameWrappingKeyIsServedFromTheCache) {
  const std::string text = block(14, 1);
  const ReadyKey* first = open(text);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->key.len, 16);
  EXPECT_EQ(first->key.bytes, keys_of_[1].bytes);
  CheckValueText kept;
  CheckValueText computed;
  first->check_value(kept, true);
  key_check_value(keys_of_[1].bytes.data(), 16, computed, true);
  EXPECT_EQ(std::string(kept.data()), computed.data());
  EXPECT_EQ(open(text), first);

  // The same key in lower-case digits is another text, opened on its own.
  std::string lower = text;
  for (size_t at = kKeyHeaderLen; at < lower.size(); ++at)
    lower[at] = static_cast<char>(std::tolower(static_cast<unsigned char>(lower[at])));
  const ReadyKey* again = open(lower);
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again, first);
  EXPECT_EQ(again->key.bytes, keys_of_[1].bytes);

  // One character off, or another wrapping key: opened, and the MAC fails.
  std::string forged = text;
  forged.back() = forged.back() == '0' ? '1' : '0';
  EXPECT_EQ(open(forged), nullptr);
  EXPECT_EQ(cache_->open_under_key(text, keys_of_[15]), nullptr);
  EXPECT_NE(cache_->open_under_key(block(15, 1), keys_of_[15]), nullptr);
  EXPECT_EQ(open(block(15, 1)), nullptr);
}

TEST_F(KeyCacheTest, KeysGivenUpOrClearedLeaveNothingBehind) {
  // Key 0 is read again before keys 8 and 9 arrive, so 1 and 2 are given up.
  const ReadyKey* kept = open(block(14, 0));
  for (int i = 1; i < kKeyCacheEntries + 2; ++i) {
    if (i == kKeyCacheEntries) {
      EXPECT_EQ(open(block(14, 0)), kept);
    }
    ASSERT_NE(open(block(14, i)), nullptr);
  }
  for (int i = 0; i < kKeyCacheEntries + 2; ++i)
    EXPECT_EQ(holds(i), i != 1 && i != 2) << "key " << i;
  EXPECT_EQ(open(block(14, 0)), kept);

  cache_->clear();
  for (int i = 0; i <= 14; ++i)
    EXPECT_FALSE(holds(i)) << "key " << i;
}

}  // namespace
}  // namespace palisim
