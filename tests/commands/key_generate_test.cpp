// Command 10: new working keys under the MFK and, given a KEK, under the KEK.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "key_test_util.h"

namespace palisim::testing {
namespace {

// The key inside the MFK block of a command 10 reply, "" when there is none.
std::string generated_key(const Settings& s, const std::string& reply) {
  std::vector<std::string> fields = reply_fields(reply);
  if (fields.size() < 2 || fields[0] != "20") return "";
  return opened_key_under_mfk(s, fields[1]);
}

Settings with_mfk_hex(const char* mfk_hex) {
  return settings_with_mfk(mfk_hex);
}

TEST(GenerateKey, LengthLetterSetsKeyLengthAndReplyCarriesKeyAndCheckValue) {
  struct Row {
    std::string request;
    size_t key_len;
  };
  const Row rows[] = {
      {"<10#1KDNE000#>", 16},    {"<10#1KDNE000##>", 16},  {"<10#1KDNE000###>", 16},
      {"<10#1KDNE000##D#>", 16}, {"<10#1KDNE000##S#>", 8}, {"<10#1KDNE000##T#>", 24},
      {"<10#1PUNN000##T#>", 24}, {"<10#9ab,;xyz##S#>", 8},
  };
  Settings s = settings_with_mfk();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.request);
    std::string reply = run(s, row.request);
    std::string key = generated_key(s, reply);
    ASSERT_EQ(key.size(), 2 * row.key_len) << reply;
    std::string header = row.request.substr(4, 8);  // used verbatim
    EXPECT_EQ(reply,
              reply_of({"20", block_under_mfk(s, header, key), "", oracle_check_value(key)}));
  }
}

TEST(GenerateKey, EveryKeyAndEveryPartIsDrawnAfresh) {
  Settings s = settings_with_mfk();
  std::string first = generated_key(s, run(s, "<10#1KDNE000##T#>"));
  std::string second = generated_key(s, run(s, "<10#1KDNE000##T#>"));
  ASSERT_EQ(first.size(), 48u);
  ASSERT_EQ(second.size(), 48u);
  EXPECT_NE(first, second);
  EXPECT_NE(first.substr(0, 16), first.substr(16, 16));
  EXPECT_NE(first.substr(16, 16), first.substr(32, 16));
}

TEST(GenerateKey, Opt88GivesSixDigitCheckValue) {
  Settings s = settings_with_mfk();
  s.opt88 = 1;
  std::string reply = run(s, "<10#1KDNE000##D#>");
  std::string key = generated_key(s, reply);
  ASSERT_EQ(key.size(), 32u);
  EXPECT_EQ(reply,
            reply_of({"20", block_under_mfk(s, "1KDNE000", key), "", oracle_check_value(key, 6)}));
}

TEST(GenerateKey, KekCopyCarriesCounterpartHeaderAndOpensUnderKek) {
  struct Row {
    const char* header;
    const char* counterpart;
    std::string kek;
    const char* letter;
    size_t key_len;
  };
  const Row rows[] = {
      {"1KDEE000", "1KDDE000", kKek16, "D", 16}, {"1KDDE000", "1KDEE000", kKek16, "", 16},
      {"1VVVE000", "1VVGE000", kKek24, "T", 24}, {"1VVGN000", "1VVVN000", kKek16, "S", 8},
      {"1PUNE000", "1PUNE000", kKek16, "D", 16}, {"1MDAE000", "1MDAE000", kKek24, "S", 8},
  };
  Settings s = settings_with_mfk();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.header);
    std::string kek_block = block_under_mfk(s, "1KDEE000", row.kek);
    std::string reply =
        run(s, std::string("<10#") + row.header + "#" + kek_block + "#" + row.letter + "#>");
    std::string key = generated_key(s, reply);
    ASSERT_EQ(key.size(), 2 * row.key_len) << reply;
    std::vector<std::string> fields = reply_fields(reply);
    ASSERT_EQ(fields.size(), 4u);
    EXPECT_EQ(opened_key(row.kek, fields[2]), key);
    EXPECT_EQ(reply,
              reply_of({"20", block_under_mfk(s, row.header, key),
                        block_under_kek(row.kek, row.counterpart, key), oracle_check_value(key)}));
  }
}

TEST(GenerateKey, RefusalsInCheckOrder) {
  Settings s = settings_with_mfk();
  Settings single_allowed = s;
  single_allowed.opt6c = 1;
  Settings no_mfk;
  no_mfk.opt21 = 1;
  const std::string kek = block_under_mfk(s, "1KDEE000", kKek16);
  const std::string kek8 = block_under_mfk(s, "1KDEE000", kKek8);
  struct Row {
    const char* name;
    Settings settings;
    std::string request;
    std::string reply;
  };
  const Row rows[] = {
      {"no field after the code", s, "<10#>", "<00#040235#0300##>\r\n"},
      {"only an echo field", s, "<10#^e#>", "<00#040235#0300##>\r\n"},
      {"header of 7", s, "<10#1KDNE00#>", "<00#010135#0003##>\r\n"},
      {"empty header", s, "<10##" + kek + "#>", "<00#010135#0003##>\r\n"},
      {"header of 9 before a bad KEK", s, "<10#1KDNE0000#x#DD#>", "<00#010135#0003##>\r\n"},
      {"KEK of 73", s, "<10#1KDNE000#" + kek.substr(0, 73) + "#>", "<00#010235#0003##>\r\n"},
      {"KEK not a block", s, "<10#1KDNE000#" + with_bad_form(kek) + "#>", "<00#020235#0102##>\r\n"},
      {"KEK header not listed", s, "<10#1KDNE000#" + block_under_mfk(s, "1KDEN000", kKek16) + "#>",
       "<00#060235#0620##>\r\n"},
      {"KEK without MFK", no_mfk, "<10#1KDNE000#" + kek + "#>", "<00#060035#0602##>\r\n"},
      {"KEK MAC wrong", s, "<10#1KDNE000#" + with_bad_mac(kek) + "#>", "<00#060235#0622##>\r\n"},
      {"KEK single length", s, "<10#1KDNE000#" + kek8 + "#S#>", "<00#060235#0209##>\r\n"},
      {"bad KEK before bad letter", s, "<10#1KDNE000#" + with_bad_mac(kek) + "#DD#>",
       "<00#060235#0622##>\r\n"},
      {"two letters", s, "<10#1KDNE000##DD#>", "<00#010335#0003##>\r\n"},
      {"two letters after a KEK", s, "<10#1KDNE000#" + kek + "#SS#>", "<00#010335#0003##>\r\n"},
      {"lower-case letter", s, "<10#1KDNE000##d#>", "<00#030335#0200##>\r\n"},
      {"unknown letter", s, "<10#1KDNE000##X#>", "<00#030335#0200##>\r\n"},
      {"triple under 16-byte MFK", with_mfk_hex(kKey16.c_str()), "<10#1KDNE000##T#>",
       "<00#070335#0003##>\r\n"},
      {"double under 8-byte MFK", with_mfk_hex(kKey8.c_str()), "<10#1KDNE000##D#>",
       "<00#070335#0003##>\r\n"},
      {"no MFK and no KEK", no_mfk, "<10#1KDNE000#>", "<00#070335#0003##>\r\n"},
      {"triple under double KEK", s, "<10#1KDNE000#" + kek + "#T#>", "<00#070335#0003##>\r\n"},
      {"double under allowed single KEK", single_allowed, "<10#1KDNE000#" + kek8 + "#D#>",
       "<00#070335#0003##>\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(run(row.settings, row.request), row.reply);
  }
}

TEST(GenerateKey, ShorterMfkOrSingleKekStillServeKeysThatFit) {
  struct Row {
    const char* name;
    Settings settings;
    std::string kek_hex;
    const char* letter;
    size_t key_len;
  };
  Settings single_allowed = settings_with_mfk();
  single_allowed.opt6c = 1;
  const Row rows[] = {
      {"double under 16-byte MFK", with_mfk_hex(kKey16.c_str()), "", "D", 16},
      {"single under 8-byte MFK", with_mfk_hex(kKey8.c_str()), "", "S", 8},
      {"single under allowed single KEK", single_allowed, kKek8, "S", 8},
      {"double under double KEK", settings_with_mfk(), kKek16, "D", 16},
      {"triple under triple KEK", settings_with_mfk(), kKek24, "T", 24},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Settings& s = row.settings;
    std::string kek_block = row.kek_hex.empty() ? "" : block_under_mfk(s, "1KDEE000", row.kek_hex);
    std::string reply = run(s, "<10#1KDEE000#" + kek_block + "#" + row.letter + "#>");
    std::string key = generated_key(s, reply);
    ASSERT_EQ(key.size(), 2 * row.key_len) << reply;
    std::string under_kek =
        row.kek_hex.empty() ? "" : block_under_kek(row.kek_hex, "1KDDE000", key);
    EXPECT_EQ(reply, reply_of({"20", block_under_mfk(s, "1KDEE000", key), under_kek,
                               oracle_check_value(key)}));
  }
}

TEST(GenerateKey, KekHeaderListFollowsOpte2AndOpte3) {
  struct Row {
    const char* kek_header;
    bool accepted[4];  // opte2/opte3: off/off, on/off, off/on, on/on
  };
  const Row rows[] = {
      {"1KDEE000", {true, true, true, true}},     {"1KDNN000", {true, true, true, true}},
      {"1KDNE000", {false, true, false, true}},   {"1ADEE000", {false, false, true, true}},
      {"1ADNE000", {false, false, false, true}},  {"1KDEN000", {false, false, false, false}},
      {"1KDDE000", {false, false, false, false}},
  };
  for (const Row& row : rows) {
    for (int options = 0; options < 4; ++options) {
      Settings s = settings_with_mfk();
      s.opte2 = options & 1;
      s.opte3 = (options >> 1) & 1;
      SCOPED_TRACE(std::string(row.kek_header) + " opte2=" + std::to_string(s.opte2) +
                   " opte3=" + std::to_string(s.opte3));
      std::string reply =
          run(s, "<10#1PUEE000#" + block_under_mfk(s, row.kek_header, kKek16) + "#D#>");
      if (row.accepted[options]) {
        std::string key = generated_key(s, reply);
        ASSERT_EQ(key.size(), 32u) << reply;
        EXPECT_EQ(reply,
                  reply_of({"20", block_under_mfk(s, "1PUEE000", key),
                            block_under_kek(kKek16, "1PUDE000", key), oracle_check_value(key)}));
      } else {
        EXPECT_EQ(reply, "<00#060235#0620##>\r\n");
      }
    }
  }
}

TEST(GenerateKey, EchoFieldFollowsSuccessOnly) {
  Settings s = settings_with_mfk();
  const std::string kek = block_under_mfk(s, "1KDEE000", kKek16);
  struct Row {
    std::string request;
    std::string kek_hex;  // the KEK copy is expected under this KEK, if any
    size_t key_len;
    std::string echo;  // "" when the reply has no echo field
  };
  const Row rows[] = {
      {"<10#1KDEE000#^e#>", "", 16, "^e"},
      {"<10#1KDEE000##S#^#>", "", 8, "^"},
      {"<10#1KDEE000#" + kek + "#D#^x9#>", kKek16, 16, "^x9"},
      {"<10#1KDEE000##S#surplus#>", "", 8, ""},
      {"<10#1KDEE000##S#surplus#^last#>", "", 8, "^last"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.request);
    std::string reply = run(s, row.request);
    std::string key = generated_key(s, reply);
    ASSERT_EQ(key.size(), 2 * row.key_len) << reply;
    std::vector<std::string> want = {"20", block_under_mfk(s, "1KDEE000", key)};
    want.push_back(row.kek_hex.empty() ? "" : block_under_kek(row.kek_hex, "1KDDE000", key));
    want.push_back(oracle_check_value(key));
    if (!row.echo.empty()) want.push_back(row.echo);
    EXPECT_EQ(reply, reply_of(want));
  }
  EXPECT_EQ(run(s, "<10#1KDNE00#^e#>"), "<00#010135#0003##>\r\n");
  EXPECT_EQ(run(s, "<10#1KDNE000##q#^e#>"), "<00#030335#0200##>\r\n");
}

TEST(GenerateKey, ErrorDetailOnlyWithOpt21AndLineEndOnlyWithoutOpt23) {
  Settings s = settings_with_mfk();
  s.opt21 = 0;
  EXPECT_EQ(run(s, "<10#1KDNE000##X#>"), "<00#030335#>\r\n");
  s.opt23 = 1;
  EXPECT_EQ(run(s, "<10#1KDNE000##X#>"), "<00#030335#>");
  std::string reply = run(s, "<10#1KDNE000##S#>");
  std::string key = generated_key(s, reply);
  ASSERT_EQ(key.size(), 16u);
  EXPECT_EQ(reply,
            "<20#" + block_under_mfk(s, "1KDNE000", key) + "##" + oracle_check_value(key) + "#>");
}

}  // namespace
}  // namespace palisim::testing
