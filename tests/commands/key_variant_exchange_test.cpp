// Commands 1A and 11B: a working key out under a KEK variant and back.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "key_test_util.h"

namespace palisim::testing {
namespace {

// The test MFK and working keys that command 1A may export (usage 'P').
Settings exporting() {
  Settings s = settings_with_mfk();
  s.opte1[0] = 'P';
  return s;
}

std::string export_request(const Settings& s, const std::string& variant,
                           const std::string& kek_hex, const std::string& key_hex) {
  return "<1A#" + variant + "#" + block_under_mfk(s, "1KDEE000", kek_hex) + "#" +
         block_under_mfk(s, "1PUEE000", key_hex) + "#>";
}

std::string import_request(const Settings& s, const std::string& variant, const std::string& text,
                           const std::string& kek_hex, const std::string& kek_header = "1KDNN0K0") {
  return "<11B#" + variant + "#" + text + "#" + block_under_mfk(s, kek_header, kek_hex) + "#>";
}

struct VariantRow {
  const char* variant;
  uint8_t mask;  // the variant shifted left by 3
  std::string kek;
  std::string key;
};

const VariantRow kVariantRows[] = {
    {"0", 0x00, kKek16, kKey16},      {"1", 0x08, kKek16, kKey8},   {"31", 0xF8, kKek16, kKey16},
    {"31", 0xF8, kKek24, kKey24},     {"1", 0x08, kKek24, kKey16},  {"", 0x00, kKek24, kKey8},
    {"000031", 0xF8, kKek24, kKey24}, {"16", 0x80, kKek16, kKey16},
};

TEST(ExportVariant, EachPartEncipheredAloneUnderVariantKek) {
  Settings s = exporting();
  for (const VariantRow& row : kVariantRows) {
    SCOPED_TRACE(std::string("variant '") + row.variant + "', " +
                 std::to_string(row.key.size() / 2) + "-byte key");
    std::string text = oracle_ecb(with_variant_mask(row.kek, row.mask), row.key, true);
    EXPECT_EQ(run(s, export_request(s, row.variant, row.kek, row.key)),
              reply_of({"2A", text, oracle_check_value(row.key)}));
  }
}

TEST(ExportVariant, KnownAnswerUnderSingleLengthKekAndSixDigitCheckValue) {
  Settings s = exporting();
  s.opt6c = 1;
  // DES(0123456789ABCDEF, 0) = D5D44FF720683D0D; DES(0, 0) = 8CA64DE9C1B123A7.
  EXPECT_EQ(run(s, export_request(s, "0", "0123456789ABCDEF", "0000000000000000")),
            "<2A#D5D44FF720683D0D#8CA6#>\r\n");
  s.opt88 = 1;
  EXPECT_EQ(run(s, export_request(s, "0", "0123456789ABCDEF", "0000000000000000")),
            "<2A#D5D44FF720683D0D#8CA64D#>\r\n");
}

TEST(ImportVariant, EachPartDecipheredAloneUnderVariantKek) {
  Settings s = settings_with_mfk();  // opte0 and opte1 empty: 11B reads neither
  for (const VariantRow& row : kVariantRows) {
    SCOPED_TRACE(std::string("variant '") + row.variant + "', " +
                 std::to_string(row.key.size() / 2) + "-byte key");
    std::string text = oracle_ecb(with_variant_mask(row.kek, row.mask), row.key, true);
    std::string want =
        reply_of({"21B", block_under_mfk(s, "1KDNN0I0", row.key), oracle_check_value(row.key)});
    EXPECT_EQ(run(s, import_request(s, row.variant, text, row.kek)), want);
    for (char& c : text)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(run(s, import_request(s, row.variant, text, row.kek)), want);
  }
}

TEST(ImportVariant, ImportedHeaderStepsDownAtIndexSix) {
  Settings s = settings_with_mfk();
  struct Row {
    const char* kek_header;
    const char* key_header;
  };
  const Row rows[] = {
      {"1KDNN0K0", "1KDNN0I0"},
      {"1KDNN0I0", "1KDNN000"},
      {"1ADEN0K7", "1ADEN0I7"},
      {"xyzwNaIb", "xyzwNa0b"},
  };
  const std::string text = oracle_ecb(kKek16, kKey16, true);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.kek_header);
    EXPECT_EQ(run(s, import_request(s, "0", text, kKek16, row.kek_header)),
              reply_of({"21B", block_under_mfk(s, row.key_header, kKey16), "08D7"}));
  }
}

TEST(ImportVariant, KeyLengthIsNotComparedWithKekLength) {
  Settings s = settings_with_mfk();
  s.opt6c = 1;
  for (const std::string& kek : {kKek8, kKek16}) {
    SCOPED_TRACE(kek);
    std::string text = oracle_ecb(with_variant_mask(kek, 0x18), kKey24, true);
    std::string reply = run(s, import_request(s, "3", text, kek));
    EXPECT_EQ(reply, reply_of({"21B", block_under_mfk(s, "1KDNN0I0", kKey24),
                               oracle_check_value(kKey24)}));
  }
}

TEST(VariantExchange, ExportThenImportGivesGeneratedKeyUnderImportedHeader) {
  Settings s = exporting();
  const std::string export_kek = block_under_mfk(s, "1KDEE000", kKek24);
  const std::string import_kek = block_under_mfk(s, "1KDNN0K0", kKek24);
  for (const char* letter : {"S", "D", "T"}) {
    for (const char* variant : {"0", "1", "31"}) {
      SCOPED_TRACE(std::string(letter) + " variant " + variant);
      std::vector<std::string> gen =
          reply_fields(run(s, std::string("<10#1PUEE000##") + letter + "#>"));
      ASSERT_EQ(gen.size(), 4u);
      std::string key = opened_key_under_mfk(s, gen[1]);
      ASSERT_FALSE(key.empty());

      std::string exported =
          run(s, std::string("<1a#") + variant + "#" + export_kek + "#" + gen[1] + "#>");
      std::vector<std::string> out = reply_fields(exported);
      ASSERT_EQ(out.size(), 3u) << exported;
      EXPECT_EQ(out[2], gen[3]);

      std::string imported =
          run(s, std::string("<11b#") + variant + "#" + out[1] + "#" + import_kek + "#>");
      EXPECT_EQ(imported, reply_of({"21B", block_under_mfk(s, "1KDNN0I0", key), gen[3]}));
    }
  }
  // A different variant on the way back gives a different key.
  std::vector<std::string> out = reply_fields(run(s, export_request(s, "5", kKek24, kKey16)));
  ASSERT_EQ(out.size(), 3u);
  std::vector<std::string> back =
      reply_fields(run(s, "<11B#6#" + out[1] + "#" + import_kek + "#>"));
  ASSERT_EQ(back.size(), 3u);
  EXPECT_NE(opened_key_under_mfk(s, back[1]), kKey16);
}

struct RefusalRow {
  const char* name;
  Settings settings;
  std::string request;
  std::string reply;
};

TEST(ExportVariant, RefusalsInCheckOrder) {
  Settings s = exporting();
  Settings no_mfk;
  no_mfk.opt21 = 1;
  no_mfk.opte1[0] = 'P';
  const std::string kek = block_under_mfk(s, "1KDEE000", kKek16);
  const std::string key = block_under_mfk(s, "1PUEE000", kKey16);
  const std::string triple = block_under_mfk(s, "1PUEE000", kKey24);
  const RefusalRow rows[] = {
      {"three fields", s, "<1A#0#" + kek + "#>", "<00#040435#0300##>\r\n"},
      {"echo not counted", s, "<1A#0#" + kek + "#^e#>", "<00#040435#0300##>\r\n"},
      {"minus sign", s, "<1A#-1#" + kek + "#" + key + "#>", "<00#020135#0102##>\r\n"},
      {"letter", s, "<1A#1a#" + kek + "#" + key + "#>", "<00#020135#0102##>\r\n"},
      {"space", s, "<1A# 1#" + kek + "#" + key + "#>", "<00#020135#0102##>\r\n"},
      {"bad variant before empty KEK", s, "<1A#x##x#>", "<00#020135#0102##>\r\n"},
      {"variant 32", s, "<1A#32#" + kek + "#" + key + "#>", "<00#030135#0200##>\r\n"},
      {"variant 2^32", s, "<1A#4294967296#" + kek + "#" + key + "#>", "<00#030135#0200##>\r\n"},
      {"twenty nines", s, "<1A#99999999999999999999#" + kek + "#" + key + "#>",
       "<00#030135#0200##>\r\n"},
      {"empty KEK", s, "<1A#0##" + key + "#>", "<00#010235#0003##>\r\n"},
      {"empty KEK before bad key", s, "<1A#0##x#>", "<00#010235#0003##>\r\n"},
      {"empty KEK without MFK", no_mfk, "<1A#0##" + key + "#>", "<00#010235#0003##>\r\n"},
      {"KEK of 73", s, "<1A#0#" + kek.substr(1) + "#" + key + "#>", "<00#010235#0003##>\r\n"},
      {"KEK not a block", s, "<1A#0#" + with_bad_form(kek) + "#" + key + "#>",
       "<00#020235#0102##>\r\n"},
      {"KEK header needing opte2", s,
       "<1A#0#" + block_under_mfk(s, "1KDNE000", kKek16) + "#" + key + "#>",
       "<00#060235#0620##>\r\n"},
      {"no MFK", no_mfk, "<1A#0#" + kek + "#" + key + "#>", "<00#060035#0602##>\r\n"},
      {"KEK MAC wrong", s, "<1A#0#" + with_bad_mac(kek) + "#" + key + "#>",
       "<00#060235#0622##>\r\n"},
      {"single-length KEK", s, "<1A#0#" + block_under_mfk(s, "1KDEE000", kKek8) + "#" + key + "#>",
       "<00#060235#0209##>\r\n"},
      {"empty key", s, "<1A#0#" + kek + "##>", "<00#010335#0003##>\r\n"},
      {"key not a block", s, "<1A#0#" + kek + "#" + with_bad_form(key) + "#>",
       "<00#020335#0102##>\r\n"},
      {"key MAC wrong", s, "<1A#0#" + kek + "#" + with_bad_mac(key) + "#>",
       "<00#060335#0622##>\r\n"},
      {"key never leaves", s, "<1A#0#" + kek + "#" + block_under_mfk(s, "1PUEN000", kKey16) + "#>",
       "<00#060335#0620##>\r\n"},
      {"usage not exported", s,
       "<1A#0#" + kek + "#" + block_under_mfk(s, "1VVEE000", kKey16) + "#>",
       "<00#060335#0620##>\r\n"},
      {"no usage exported", settings_with_mfk(), "<1A#0#" + kek + "#" + key + "#>",
       "<00#060335#0620##>\r\n"},
      {"header rule before length", s,
       "<1A#0#" + kek + "#" + block_under_mfk(s, "1PUEN000", kKey24) + "#>",
       "<00#060335#0620##>\r\n"},
      {"triple key under double KEK", s, "<1A#0#" + kek + "#" + triple + "#>",
       "<00#070335#0003##>\r\n"},
  };
  for (const RefusalRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(run(row.settings, row.request), row.reply);
  }
}

TEST(ImportVariant, RefusalsInCheckOrder) {
  Settings s = settings_with_mfk();
  Settings no_mfk;
  no_mfk.opt21 = 1;
  const std::string kek = block_under_mfk(s, "1KDNN0K0", kKek16);
  const std::string text = oracle_ecb(kKek16, kKey16, true);
  const RefusalRow rows[] = {
      {"three fields", s, "<11B#0#" + text + "#>", "<00#040435#0300##>\r\n"},
      {"letter", s, "<11B#x#" + text + "#" + kek + "#>", "<00#020135#0102##>\r\n"},
      {"bad variant before bad text", s, "<11B#-0#x#x#>", "<00#020135#0102##>\r\n"},
      {"variant 32", s, "<11B#32#" + text + "#" + kek + "#>", "<00#030135#0200##>\r\n"},
      {"twenty nines", s, "<11B#99999999999999999999#" + text + "#" + kek + "#>",
       "<00#030135#0200##>\r\n"},
      {"empty text", s, "<11B#0##" + kek + "#>", "<00#010235#0003##>\r\n"},
      {"text of 15", s, "<11B#0#" + text.substr(0, 15) + "#" + kek + "#>",
       "<00#010235#0003##>\r\n"},
      {"text of 33", s, "<11B#0#" + text + "0#" + kek + "#>", "<00#010235#0003##>\r\n"},
      {"text of 64", s, "<11B#0#" + text + text + "#" + kek + "#>", "<00#010235#0003##>\r\n"},
      {"bad text length before bad KEK", s, "<11B#0#ABC#x#>", "<00#010235#0003##>\r\n"},
      {"G in text", s, "<11B#0#" + text.substr(0, 31) + "G#" + kek + "#>",
       "<00#020235#0102##>\r\n"},
      {"empty KEK", s, "<11B#0#" + text + "##>", "<00#010335#0003##>\r\n"},
      {"KEK of 75", s, "<11B#0#" + text + "#" + kek + "F#>", "<00#010335#0003##>\r\n"},
      {"KEK not a block", s, "<11B#0#" + text + "#" + with_bad_form(kek) + "#>",
       "<00#020335#0102##>\r\n"},
      {"bad form before bad header", s,
       "<11B#0#" + text + "#" + with_bad_form(block_under_mfk(s, "1KDEE000", kKek16)) + "#>",
       "<00#020335#0102##>\r\n"},
      {"KEK that may leave", s,
       "<11B#0#" + text + "#" + block_under_mfk(s, "1KDNN0K0", kKek16).replace(4, 1, "E") + "#>",
       "<00#060335#0620##>\r\n"},
      {"index 6 not I or K", s,
       "<11B#0#" + text + "#" + block_under_mfk(s, "1KDNN000", kKek16) + "#>",
       "<00#060335#0620##>\r\n"},
      {"lower-case k", s, "<11B#0#" + text + "#" + block_under_mfk(s, "1KDNN0k0", kKek16) + "#>",
       "<00#060335#0620##>\r\n"},
      {"header before MFK", no_mfk,
       "<11B#0#" + text + "#" + block_under_mfk(s, "1KDEE0K0", kKek16) + "#>",
       "<00#060335#0620##>\r\n"},
      {"no MFK", no_mfk, "<11B#0#" + text + "#" + kek + "#>", "<00#060035#0602##>\r\n"},
      {"KEK MAC wrong", s, "<11B#0#" + text + "#" + with_bad_mac(kek) + "#>",
       "<00#060335#0622##>\r\n"},
      {"single-length KEK", s,
       "<11B#0#" + text + "#" + block_under_mfk(s, "1KDNN0K0", kKek8) + "#>",
       "<00#060335#0209##>\r\n"},
  };
  for (const RefusalRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(run(row.settings, row.request), row.reply);
  }
}

TEST(ExportVariant, KekHeaderListFollowsOpte2AndOpte3) {
  struct Row {
    const char* kek_header;
    bool accepted[4];  // opte2/opte3: off/off, on/off, off/on, on/on
  };
  const Row rows[] = {
      {"1KDEE000", {true, true, true, true}},     {"1KDEN000", {true, true, true, true}},
      {"1KDNE000", {false, true, false, true}},   {"1KDNN000", {false, true, false, true}},
      {"1ADEE000", {false, false, true, true}},   {"1ADNE000", {false, false, false, true}},
      {"1KDDE000", {false, false, false, false}},
  };
  const std::string text = oracle_ecb(with_variant_mask(kKek16, 0x10), kKey16, true);
  for (const Row& row : rows) {
    for (int options = 0; options < 4; ++options) {
      Settings s = exporting();
      s.opte2 = options & 1;
      s.opte3 = (options >> 1) & 1;
      SCOPED_TRACE(std::string(row.kek_header) + " opte2=" + std::to_string(s.opte2) +
                   " opte3=" + std::to_string(s.opte3));
      std::string reply = run(s, "<1A#2#" + block_under_mfk(s, row.kek_header, kKek16) + "#" +
                                     block_under_mfk(s, "1PUEE000", kKey16) + "#>");
      EXPECT_EQ(reply,
                row.accepted[options] ? reply_of({"2A", text, "08D7"}) : "<00#060235#0620##>\r\n");
    }
  }
}

TEST(VariantExchange, EchoFieldFollowsSuccessOnly) {
  Settings s = exporting();
  std::string exported = export_request(s, "0", kKek16, kKey16);
  exported.insert(exported.size() - 1, "^1A#");
  std::string text = oracle_ecb(kKek16, kKey16, true);
  EXPECT_EQ(run(s, exported), reply_of({"2A", text, "08D7", "^1A"}));

  std::string imported = import_request(s, "0", text, kKek16);
  imported.insert(imported.size() - 1, "surplus#^#");
  EXPECT_EQ(run(s, imported),
            reply_of({"21B", block_under_mfk(s, "1KDNN0I0", kKey16), "08D7", "^"}));

  std::string refused = import_request(s, "32", text, kKek16);
  refused.insert(refused.size() - 1, "^e#");
  EXPECT_EQ(run(s, refused), "<00#030135#0200##>\r\n");
}

}  // namespace
}  // namespace palisim::testing
