// Every sample request gets the reply it claims, under the configuration it
// is meant for, so the soak test and the fuzz corpora start from known ground.
#include "sample_requests.h"
#include "crypto/key_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>

#include "dispatch/command_table.h"
#include "sample_configuration.h"

namespace palisim::testing {
namespace {

std::string reply_to(const Settings& s, std::string text) {
  char buf[6144];
  ReplyBuffer r{buf, 0};
  KeyCache keys;
  dispatch_request(s, keys, text.data(), static_cast<int32_t>(text.size()), r);
  return std::string(r.view());
}

// Field 0 in lower case, as the command table holds it.
std::string code_of(const std::string& text) {
  std::string code = text.substr(1, text.find('#') == std::string::npos ? 0 : text.find('#') - 1);
  for (char& c : code)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return code;
}

TEST(SampleConfiguration, IsTheShippedOneWithUsageLettersOpened) {
  Settings s = sample_settings();
  EXPECT_EQ(s.mfk_len, 24);
  EXPECT_EQ(s.mfk_present, 1);
  EXPECT_EQ(s.mfk[0], 0x01);
  EXPECT_EQ(s.mfk[23], 0x67);
  EXPECT_STREQ(s.opte0.data(), kSampleUsageLetters);
  EXPECT_STREQ(s.opte1.data(), kSampleUsageLetters);
  EXPECT_EQ(s.opt21, 0);
  EXPECT_EQ(s.opt23, 0);
  EXPECT_EQ(s.opt6c, 0);
  EXPECT_EQ(s.pin_sanity, 'L');
  EXPECT_EQ(s.second_pin, 'B');
}

TEST(SampleRequests, EveryOneIsFramedAsOneRequestWithAUniqueName) {
  std::set<std::string> names;
  for (const SampleRequest& r : sample_requests()) {
    SCOPED_TRACE(r.name);
    EXPECT_TRUE(names.insert(r.name).second);
    EXPECT_EQ(
        r.name.find_first_not_of("0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_"),
        std::string::npos);
    ASSERT_GE(r.text.size(), 2u);
    EXPECT_EQ(r.text.front(), '<');
    EXPECT_EQ(r.text.find('>'), r.text.size() - 1);
    EXPECT_EQ(r.text.find('\r'), std::string::npos);
    EXPECT_EQ(r.text.find('<', 1), std::string::npos);
    EXPECT_NE(r.valid(), r.error_type != 0);
  }
}

TEST(SampleRequests, TextByName) {
  EXPECT_EQ(sample_text("00_echo"), "<00#hello#>");
  EXPECT_EQ(sample_text("no_such_sample"), "");
}

TEST(SampleRequests, EveryCommandHasValidAndMalformedRequests) {
  for (const CommandRow& row : command_table()) {
    SCOPED_TRACE(std::string(row.code));
    int valid = 0, malformed = 0;
    for (const SampleRequest& r : sample_requests()) {
      if (code_of(r.text) != row.code) continue;
      ++(r.valid() ? valid : malformed);
    }
    EXPECT_GE(valid, 1);
    EXPECT_GE(malformed, 3);
  }
}

TEST(SampleRequests, ValidOnesSucceedWithTheirReplyCode) {
  const Settings s = sample_settings();
  for (const SampleRequest& r : sample_requests()) {
    if (!r.valid()) continue;
    SCOPED_TRACE(r.name);
    std::string reply = reply_to(s, r.text);
    EXPECT_FALSE(is_error_reply(reply)) << reply;
    EXPECT_EQ(reply.rfind("<" + r.reply_code + "#", 0), 0u) << reply;
    EXPECT_EQ(reply.substr(reply.size() - 3), ">\r\n");
    if (!r.known_reply.empty()) {
      EXPECT_EQ(reply, r.known_reply + "\r\n");
    }
  }
}

TEST(SampleRequests, MalformedOnesGetTheirErrorReply) {
  Settings s = sample_settings();
  for (const SampleRequest& r : sample_requests()) {
    if (r.valid()) continue;
    SCOPED_TRACE(r.name);
    EXPECT_EQ(reply_to(s, r.text), expected_error_reply(r, false));
  }
  s.opt21 = 1;
  for (const SampleRequest& r : sample_requests()) {
    if (r.valid()) continue;
    SCOPED_TRACE(r.name);
    EXPECT_EQ(reply_to(s, r.text), expected_error_reply(r, true));
  }
}

TEST(SampleSecrets, HoldThePublishedClearPinBlockAndDerivedKeys) {
  const SampleSecrets& secrets = sample_secrets();
  auto holds = [&](const std::string& hex) {
    return std::find(secrets.key_hex.begin(), secrets.key_hex.end(), hex) != secrets.key_hex.end();
  };
  // PIN 1234 with account digits 401234567890, and the DUKPT example's first PIN key.
  EXPECT_TRUE(holds("041274EDCBA9876F"));
  EXPECT_TRUE(holds("042666B49184CF5C68DE9628D0397B36"));
  for (const std::string& hex : secrets.key_hex)
    EXPECT_TRUE(hex.size() == 16 || hex.size() == 32 || hex.size() == 48) << hex;
  for (const std::string& pin : secrets.pins)
    EXPECT_GE(pin.size(), 8u) << pin;
}

TEST(SampleRequests, ErrorReplyShapeIsTold) {
  EXPECT_TRUE(is_error_reply("<00#040235#>\r\n"));
  EXPECT_TRUE(is_error_reply("<00#230035#0203##>\r\n"));
  EXPECT_FALSE(is_error_reply("<00#000035#hello#>\r\n"));
  EXPECT_FALSE(is_error_reply("<00#000035#040235#>\r\n"));
  EXPECT_FALSE(is_error_reply("<40#1B9C1845EB993A7A#>\r\n"));
  EXPECT_FALSE(is_error_reply("<00#04023X#>\r\n"));
}

}  // namespace
}  // namespace palisim::testing
