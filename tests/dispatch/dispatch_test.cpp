// Splitting, dispatch, the field-count rule, the echo command and error replies.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "crypto/key_cache.h"
#include "dispatch/command_table.h"
#include "protocol/fields.h"
#include "sample_configuration.h"
#include "sample_requests.h"

namespace palisim {
namespace {

// Dispatches a copy of the request, through the cache when one is given,
// and returns the reply text.
std::string run(std::string request, const Settings& s = Settings{}, KeyCache* keys = nullptr) {
  char reply[6144];
  ReplyBuffer r{reply, 0};
  KeyCache fresh;
  dispatch_request(s, keys ? *keys : fresh, request.data(), static_cast<int32_t>(request.size()),
                   r);
  return std::string(r.view());
}

Settings with(uint8_t Settings::*flag) {
  Settings s;
  s.*flag = 1;
  return s;
}

TEST(Dispatch, EchoAndItsEchoField) {
  EXPECT_EQ(run("<00#hello#>"), "<00#000035#hello#>\r\n");
  EXPECT_EQ(run("<00#hello#^77#>"), "<00#000035#hello#^77#>\r\n");
  EXPECT_EQ(run("<00#a#b#c#>"), "<00#000035#a#>\r\n");
  EXPECT_EQ(run("<00##>"), "<00#000035##>\r\n");
  EXPECT_EQ(run("<00#x#^#>"), "<00#000035#x#^#>\r\n");
  // Only the echo field follows the code: too few fields, and no echo in the error.
  EXPECT_EQ(run("<00#^x#>"), "<00#040235#>\r\n");
  EXPECT_EQ(run("<00#abc>"), "<00#040235#>\r\n");
}

TEST(Dispatch, RequestsWithoutFields) {
  EXPECT_EQ(run("<>"), "<00#020035#>\r\n");
  EXPECT_EQ(run("<00>"), "<00#020035#>\r\n");
  EXPECT_EQ(run("<"), "<00#020035#>\r\n");
  EXPECT_EQ(run(""), "<00#020035#>\r\n");
  EXPECT_EQ(run("<00>", with(&Settings::opt21)), "<00#020035#0101##>\r\n");
}

TEST(Dispatch, UnknownCodesAndCaseOfCodes) {
  EXPECT_EQ(run("<#>"), "<00#230035#>\r\n");
  EXPECT_EQ(run("<zz#>"), "<00#230035#>\r\n");
  EXPECT_EQ(run("<zz#>", with(&Settings::opt21)), "<00#230035#0203##>\r\n");
  // Field 0 is compared whole.
  EXPECT_EQ(run("<000#x#>"), "<00#230035#>\r\n");
  EXPECT_EQ(run("<0#x#>"), "<00#230035#>\r\n");
}

// Each catalogue row answers its code in upper case, refuses a request one
// field short with its minimum, and command_of_request finds the same row.
TEST(Dispatch, CatalogueRowsAnswerTheirCodes) {
  KeyCache keys;
  for (size_t i = 0; i < kCommandCount; ++i) {
    const CommandInfo& row = kCommandCatalog[i];
    std::string request = "<" + std::string(written_code(row.code).view()) + "#";
    request.append(static_cast<size_t>(row.min_fields - 2), '#') += '>';
    SCOPED_TRACE(request);
    char reply[64];
    ReplyBuffer r{reply, 0};
    std::string copy = request;
    EXPECT_EQ(dispatch_request(Settings{}, keys, copy.data(), static_cast<int32_t>(copy.size()), r),
              i);
    char expected[16];
    std::snprintf(expected, sizeof expected, "<00#04%02d35#>\r\n", row.min_fields);
    EXPECT_EQ(r.view(), expected);
    EXPECT_EQ(command_of_request(request), i);
  }
  for (std::string request : {"<>", "<#>", "<zz#>", "<31>", "<31>#x#"}) {
    EXPECT_EQ(command_of_request(request), kCommandCount) << request;
    char reply[64];
    ReplyBuffer r{reply, 0};
    EXPECT_EQ(
        dispatch_request(Settings{}, keys, request.data(), static_cast<int32_t>(request.size()), r),
        kCommandCount);
  }
}

TEST(Dispatch, Opt23EndsRepliesAtTheBracket) {
  Settings s = with(&Settings::opt23);
  EXPECT_EQ(run("<00#hello#>", s), "<00#000035#hello#>");
  EXPECT_EQ(run("<zz#>", s), "<00#230035#>");
  s.opt21 = 1;
  EXPECT_EQ(run("<00#^x#>", s), "<00#040235#0300##>");
}

TEST(Dispatch, TextAfterTheLastSeparatorIsIgnored) {
  EXPECT_EQ(run("<00#hello#trailing>"), "<00#000035#hello#>\r\n");
  // Splitting stops at the first '>' even when bytes follow within the length.
  EXPECT_EQ(run("<00#a#>junk#b#"), "<00#000035#a#>\r\n");
}

TEST(Split, SeventyFieldsKeepTheFirstSixtyFour) {
  std::string request = "<";
  for (int i = 0; i < 70; ++i)
    request += "f" + std::to_string(i) + "#";
  request += ">";
  Fields f;
  split_request(request.data(), static_cast<int32_t>(request.size()), f);
  ASSERT_EQ(f.count, kMaxFields);
  EXPECT_EQ(f[0], "f0");
  EXPECT_EQ(f[63], "f63");
  EXPECT_EQ(f[64], "");
  EXPECT_EQ(run("<00#x#" + request.substr(1)), "<00#000035#x#>\r\n");
}

TEST(Split, FieldsAreCutInPlaceWithNuls) {
  std::string request = "<ab#cd##e#>";
  Fields f;
  split_request(request.data(), static_cast<int32_t>(request.size()), f);
  ASSERT_EQ(f.count, 4);
  EXPECT_STREQ(f.c_str(1), "cd");
  EXPECT_STREQ(f.c_str(2), "");
  EXPECT_EQ(f[3], "e");
  EXPECT_EQ(request[3], '\0');
  EXPECT_STREQ(f.c_str(9), "");
}

TEST(FieldCountRule, MinimumEchoFieldAndSurplus) {
  auto rule = [](std::string request, int min, Fields& f, std::string& keep) {
    keep = std::move(request);
    split_request(keep.data(), static_cast<int32_t>(keep.size()), f);
    return field_count_rule(f, min);
  };
  Fields f;
  std::string buf;
  EXPECT_EQ(rule("<10#a#b#>", 3, f, buf), kAccepted);
  EXPECT_EQ(rule("<10#a#b#c#d#>", 3, f, buf), kAccepted);  // surplus fields are accepted
  EXPECT_EQ(rule("<10#a#>", 3, f, buf), kRefused);
  EXPECT_EQ(rule("<10#a#b#^e#>", 3, f, buf), kAcceptedWithEcho);
  EXPECT_EQ(rule("<10#a#^e#>", 3, f, buf), kRefused);
  // A repeated application with another minimum sees the same echo field.
  EXPECT_EQ(field_count_rule(f, 2), kAcceptedWithEcho);
}

TEST(FieldCountRule, EchoFieldReadsAsEmptyForHandlers) {
  std::string request = "<10#1KDNE000#^e#>";
  Fields f;
  split_request(request.data(), static_cast<int32_t>(request.size()), f);
  ASSERT_EQ(field_count_rule(f, 2), kAcceptedWithEcho);
  EXPECT_EQ(f[1], "1KDNE000");
  EXPECT_EQ(f[2], "");  // never read as a data field
  EXPECT_STREQ(f.c_str(2), "");
  char reply[64];
  ReplyBuffer r{reply, 0};
  append_echo_field(r, f);
  EXPECT_EQ(r.view(), "^e#");
}

TEST(FieldCountRule, RefusalWritesTheMinimumAsFieldNumber) {
  std::string request = "<10#a#>";
  Fields f;
  split_request(request.data(), static_cast<int32_t>(request.size()), f);
  char reply[64];
  ReplyBuffer r{reply, 0};
  Settings s;
  s.opt21 = 1;
  EXPECT_FALSE(check_field_count(s, f, r, 11));
  EXPECT_EQ(r.view(), "<00#041135#0300##>\r\n");
}

TEST(Dispatch, LongestEchoFitsTheReplyBuffer) {
  std::string field(5100, 'x');
  std::string reply = run("<00#" + field + "#^" + std::string(10, 'e') + "#>");
  EXPECT_EQ(reply, "<00#000035#" + field + "#^eeeeeeeeee#>\r\n");
}

// Every sample request, sent twice over one cache (the second time its keys
// are all found there), gets the reply it gets without a cache.
TEST(Dispatch, KeysFromTheCacheGiveTheRepliesOfKeysOpenedAfresh) {
  const Settings s = testing::sample_settings();
  KeyCache keys;
  for (const testing::SampleRequest& sample : testing::sample_requests()) {
    const std::string uncached = run(sample.text, s);
    if (run(sample.text, s) != uncached) continue;  // a generated key or chaining value
    EXPECT_EQ(run(sample.text, s, &keys), uncached) << sample.name;
    EXPECT_EQ(run(sample.text, s, &keys), uncached) << sample.name << ", keys from the cache";
  }
}

}  // namespace
}  // namespace palisim
