// Expected replies: exact where dispatch answers alike twice, shape-only
// over the fields that carry fresh random values.
#include "expected_reply.h"
#include "crypto/key_cache.h"

#include <gtest/gtest.h>

#include <string>

#include "dispatch/command_table.h"
#include "sample_configuration.h"
#include "sample_requests.h"

namespace palisim::testing {
namespace {

TEST(ExpectedReply, RepeatableReplyMustMatchExactly) {
  ExpectedReply want(sample_settings(), sample_text("30_published_block"));
  EXPECT_TRUE(want.exact());
  EXPECT_TRUE(want.matches("<40#1B9C1845EB993A7A#>\r\n"));
  EXPECT_FALSE(want.matches("<40#1B9C1845EB993A7B#>\r\n"));
  EXPECT_FALSE(want.matches("<40#1B9C1845EB993A7A#>"));
}

TEST(ExpectedReply, FreshKeyComparesByShape) {
  const Settings s = sample_settings();
  ExpectedReply want(s, sample_text("10_double"));
  EXPECT_FALSE(want.exact());
  // Another run's reply has other key digits and still matches.
  std::string text = sample_text("10_double");
  char buf[6144];
  ReplyBuffer r{buf, 0};
  std::string other;
  do {
    KeyCache keys;
    dispatch_request(s, keys, text.data(), static_cast<int32_t>(text.size()), r);
    other.assign(r.view());
    text = sample_text("10_double");
  } while (other == want.sample());
  EXPECT_TRUE(want.matches(other));

  std::string wrong_header = other;
  wrong_header.replace(4, 8, "1KDNN000");  // the header follows "<20#"
  EXPECT_FALSE(want.matches(wrong_header));
  std::string not_hex = other;
  not_hex[20] = 'G';
  EXPECT_FALSE(want.matches(not_hex));
  EXPECT_FALSE(want.matches(other.substr(0, other.size() - 3)));
  EXPECT_FALSE(want.matches("<00#040235#>\r\n"));
}

TEST(ExpectedReply, OnlyTheRandomFieldsOfCommand97Vary) {
  const Settings s = sample_settings();
  ExpectedReply want(s, sample_text("97_encipher_fresh_iv"));
  EXPECT_FALSE(want.exact());
  // Mode, option digit, check value and data format stay exact.
  std::string changed = want.sample();
  changed.replace(changed.find("#E#6#") + 1, 1, "D");
  EXPECT_FALSE(want.matches(changed));
  EXPECT_TRUE(want.matches(want.sample()));
}

}  // namespace
}  // namespace palisim::testing
