// Commands 11 and 13: a working key from the MFK to a KEK and back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "key_test_util.h"

namespace palisim::testing {
namespace {

// Settings whose opte0 (import) and opte1 (export) usage letters are given.
Settings with_usages(const char* import_letters, const char* export_letters,
                     const char* mfk_hex = kTestMfkHex) {
  Settings s = settings_with_mfk(mfk_hex);
  std::string(import_letters).copy(s.opte0.data(), s.opte0.size() - 1);
  std::string(export_letters).copy(s.opte1.data(), s.opte1.size() - 1);
  return s;
}

std::string export_request(const Settings& s, const std::string& kek_hex,
                           const std::string& key_header, const std::string& key_hex) {
  return "<11#x#" + block_under_mfk(s, "1KDEE000", kek_hex) + "#" +
         block_under_mfk(s, key_header, key_hex) + "#>";
}

std::string import_request(const Settings& s, const std::string& kek_hex,
                           const std::string& key_header, const std::string& key_hex) {
  return "<13##" + block_under_mfk(s, "1KDEE000", kek_hex) + "#" +
         block_under_kek(kek_hex, key_header, key_hex) + "#>";
}

TEST(TranslateKey, GeneratedKeyGoesOutUnderKekAndBackUnderMfkUnchanged) {
  Settings s = with_usages("P", "P");
  const std::string kek_block = block_under_mfk(s, "1KDEE000", kKek16);
  for (const char* letter : {"S", "D"}) {
    SCOPED_TRACE(letter);
    std::string generated = run(s, std::string("<10#1PUEE000##") + letter + "#>");
    std::vector<std::string> gen = reply_fields(generated);
    ASSERT_EQ(gen.size(), 4u) << generated;
    std::string key = opened_key_under_mfk(s, gen[1]);
    ASSERT_FALSE(key.empty());

    std::string exported = run(s, "<11#any#" + kek_block + "#" + gen[1] + "#>");
    std::vector<std::string> out = reply_fields(exported);
    ASSERT_EQ(out.size(), 3u) << exported;
    EXPECT_EQ(opened_key(kKek16, out[1]), key);
    EXPECT_EQ(exported, reply_of({"21", block_under_kek(kKek16, "1PUDE000", key), gen[3]}));

    // Back under the MFK with the counterpart of the counterpart: the very block
    // that command 10 gave.
    std::string imported = run(s, "<13#any#" + kek_block + "#" + out[1] + "#>");
    EXPECT_EQ(imported, reply_of({"23", gen[1], gen[3]}));
  }
}

TEST(TranslateKey, EveryKeyLengthUnderEveryLongEnoughKek) {
  struct Row {
    std::string kek;
    std::string key;
  };
  const Row rows[] = {
      {kKek16, kKey8}, {kKek16, kKey16}, {kKek24, kKey8}, {kKek24, kKey16}, {kKek24, kKey24},
  };
  Settings s = with_usages("KPVd", "PVKd");
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.kek.size() / 2) + "-byte KEK, " +
                 std::to_string(row.key.size() / 2) + "-byte key");
    // 'N' as the mode letter (index 3) neither refuses nor changes.
    EXPECT_EQ(run(s, export_request(s, row.kek, "1PUNE0E0", row.key)),
              reply_of({"21", block_under_kek(row.kek, "1PUNE0E0", row.key),
                        oracle_check_value(row.key)}));
    EXPECT_EQ(run(s, export_request(s, row.kek, "1VVGE000", row.key)),
              reply_of({"21", block_under_kek(row.kek, "1VVVE000", row.key),
                        oracle_check_value(row.key)}));
    EXPECT_EQ(
        run(s, import_request(s, row.kek, "1dDVE000", row.key)),
        reply_of({"23", block_under_mfk(s, "1dDGE000", row.key), oracle_check_value(row.key)}));
  }
}

TEST(TranslateKey, CheckValuesAreKnownAnswersAndSixDigitsWithOpt88) {
  Settings s = with_usages("P", "P");
  EXPECT_EQ(reply_fields(run(s, export_request(s, kKek16, "1PUEE000", kKey16)))[2], "08D7");
  EXPECT_EQ(reply_fields(run(s, import_request(s, kKek16, "1PUDE000", kKey8)))[2], "D5D4");
  s.opt88 = 1;
  EXPECT_EQ(reply_fields(run(s, export_request(s, kKek16, "1PUEE000", kKey16)))[2], "08D7B4");
  EXPECT_EQ(reply_fields(run(s, import_request(s, kKek16, "1PUDE000", kKey8)))[2], "D5D44F");
}

TEST(TranslateKey, ExportabilityAndUsageLetterDecide) {
  struct Row {
    const char* name;
    const char* opte0;
    const char* opte1;
    const char* header;
    bool exports;
    bool imports;
  };
  const Row rows[] = {
      {"letter in both", "P", "P", "1PUEE000", true, true},
      {"N at index 4 though letter allowed", "P", "P", "1PUNN000", false, false},
      {"N at index 4 with mode D", "P", "P", "1PUDN000", false, false},
      {"export letters only", "", "P", "1PUEE000", true, false},
      {"import letters only", "P", "", "1PUEE000", false, true},
      {"no letters at all", "", "", "1PUEE000", false, false},
      {"letter among several", "KVP", "MPC", "1PUEE000", true, true},
      {"letter elsewhere", "KV", "MC", "1PUEE000", false, false},
      {"case differs", "p", "p", "1PUEE000", false, false},
      {"lower-case letter matched exactly", "d", "d", "1dDEE000", true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Settings s = with_usages(row.opte0, row.opte1);
    std::string header = row.header;
    std::string counterpart = header;
    counterpart[3] = header[3] == 'E' ? 'D' : header[3] == 'D' ? 'E' : header[3];

    std::string exported = run(s, export_request(s, kKek16, header, kKey16));
    EXPECT_EQ(exported, row.exports
                            ? reply_of({"21", block_under_kek(kKek16, counterpart, kKey16), "08D7"})
                            : "<00#060335#0620##>\r\n");
    std::string imported = run(s, import_request(s, kKek16, header, kKey16));
    EXPECT_EQ(imported, row.imports
                            ? reply_of({"23", block_under_mfk(s, counterpart, kKey16), "08D7"})
                            : "<00#060335#0620##>\r\n");
  }
}

TEST(TranslateKey, KeyLongerThanItsNewWrappingKeyIsRefused) {
  Settings s = with_usages("P", "P");
  // 11: the KEK must hold the key (7/2); 13: the configured MFK must (7/3).
  EXPECT_EQ(run(s, export_request(s, kKek16, "1PUEE000", kKey24)), "<00#070235#0003##>\r\n");
  Settings mfk16 = with_usages("P", "P", kKey16.c_str());
  EXPECT_EQ(run(mfk16, import_request(mfk16, kKek16, "1PUDE000", kKey24)),
            "<00#070335#0003##>\r\n");
  Settings mfk8 = with_usages("P", "P", kKey8.c_str());
  EXPECT_EQ(run(mfk8, import_request(mfk8, kKek16, "1PUDE000", kKey16)), "<00#070335#0003##>\r\n");
  // Equal lengths pass.
  EXPECT_EQ(run(mfk16, import_request(mfk16, kKek24, "1PUDE000", kKey16)),
            reply_of({"23", block_under_mfk(mfk16, "1PUEE000", kKey16), "08D7"}));
  EXPECT_EQ(
      run(s, export_request(s, kKek24, "1PUEE000", kKey24)),
      reply_of({"21", block_under_kek(kKek24, "1PUDE000", kKey24), oracle_check_value(kKey24)}));
}

TEST(TranslateKey, RefusalsInCheckOrder) {
  Settings s = with_usages("P", "P");
  Settings no_mfk;
  no_mfk.opt21 = 1;
  const std::string kek = block_under_mfk(s, "1KDEE000", kKek16);
  const std::string kek8 = block_under_mfk(s, "1KDEE000", kKek8);
  const std::string out_key = block_under_mfk(s, "1PUEE000", kKey24);      // for 11
  const std::string in_key = block_under_kek(kKek16, "1PUDE000", kKey24);  // for 13
  struct Row {
    const char* name;
    Settings settings;
    std::string fields;  // after "<11#" or "<13#"
    std::string reply;
  };
  const Row rows[] = {
      {"three fields", s, "x#" + kek + "#>", "<00#040435#0300##>\r\n"},
      {"echo is not counted", s, "x#" + kek + "#^e#>", "<00#040435#0300##>\r\n"},
      {"empty KEK", s, "x##x#>", "<00#010235#0003##>\r\n"},
      {"KEK not a block", s, "x#" + with_bad_form(kek) + "#x#>", "<00#020235#0102##>\r\n"},
      {"KEK header of 10 only", s, "x#" + block_under_mfk(s, "1KDNN000", kKek16) + "#x#>",
       "<00#060235#0620##>\r\n"},
      {"KEK header needing opte2", s, "x#" + block_under_mfk(s, "1KDNE000", kKek16) + "#x#>",
       "<00#060235#0620##>\r\n"},
      {"no MFK", no_mfk, "x#" + kek + "#x#>", "<00#060035#0602##>\r\n"},
      {"KEK MAC wrong", s, "x#" + with_bad_mac(kek) + "#x#>", "<00#060235#0622##>\r\n"},
      {"single-length KEK", s, "x#" + kek8 + "#x#>", "<00#060235#0209##>\r\n"},
      {"key of 75", s, "x#" + kek + "#" + in_key + "0#>", "<00#010335#0003##>\r\n"},
      {"empty key", s, "x#" + kek + "##>", "<00#010335#0003##>\r\n"},
      {"key not a block", s, "x#" + kek + "#" + with_bad_form(in_key) + "#>",
       "<00#020335#0102##>\r\n"},
      {"key MAC wrong", s, "x#" + kek + "#" + with_bad_mac(in_key) + "#>",
       "<00#060335#0622##>\r\n"},
  };
  for (const char* code : {"11", "13"}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(code) + ": " + row.name);
      EXPECT_EQ(run(row.settings, std::string("<") + code + "#" + row.fields), row.reply);
    }
  }
  // Each command reads the working key under its own wrapping key, so the
  // other's block fails its MAC.
  EXPECT_EQ(run(s, "<11#x#" + kek + "#" + in_key + "#>"), "<00#060335#0622##>\r\n");
  EXPECT_EQ(run(s, "<13#x#" + kek + "#" + out_key + "#>"), "<00#060335#0622##>\r\n");
  // Header rules come before lengths.
  const std::string fixed_out = block_under_mfk(s, "1PUEN000", kKey24);
  EXPECT_EQ(run(s, "<11#x#" + kek + "#" + fixed_out + "#>"), "<00#060335#0620##>\r\n");
  Settings mfk16 = with_usages("P", "P", kKey16.c_str());
  const std::string fixed_in = block_under_kek(kKek16, "1PUDN000", kKey24);
  EXPECT_EQ(
      run(mfk16, "<13#x#" + block_under_mfk(mfk16, "1KDEE000", kKek16) + "#" + fixed_in + "#>"),
      "<00#060335#0620##>\r\n");
  // A single-length working key is fine; only the KEK must not be single.
  EXPECT_EQ(run(s, export_request(s, kKek16, "1PUEE000", kKey8)),
            reply_of({"21", block_under_kek(kKek16, "1PUDE000", kKey8), "D5D4"}));
}

TEST(TranslateKey, KekHeaderListFollowsOpte2Only) {
  struct Row {
    const char* kek_header;
    bool accepted[4];  // opte2/opte3: off/off, on/off, off/on, on/on
  };
  const Row rows[] = {
      {"1KDEE000", {true, true, true, true}},     {"1KDEN000", {true, true, true, true}},
      {"1KDNE000", {false, true, false, true}},   {"1KDNN000", {false, true, false, true}},
      {"1ADEE000", {false, false, false, false}}, {"1ADNE000", {false, false, false, false}},
  };
  for (const Row& row : rows) {
    for (int options = 0; options < 4; ++options) {
      Settings s = with_usages("P", "P");
      s.opte2 = options & 1;
      s.opte3 = (options >> 1) & 1;
      SCOPED_TRACE(std::string(row.kek_header) + " opte2=" + std::to_string(s.opte2) +
                   " opte3=" + std::to_string(s.opte3));
      std::string kek = block_under_mfk(s, row.kek_header, kKek16);
      std::string exported =
          run(s, "<11#x#" + kek + "#" + block_under_mfk(s, "1PUEE000", kKey16) + "#>");
      std::string imported =
          run(s, "<13#x#" + kek + "#" + block_under_kek(kKek16, "1PUDE000", kKey16) + "#>");
      if (row.accepted[options]) {
        EXPECT_EQ(exported, reply_of({"21", block_under_kek(kKek16, "1PUDE000", kKey16), "08D7"}));
        EXPECT_EQ(imported, reply_of({"23", block_under_mfk(s, "1PUEE000", kKey16), "08D7"}));
      } else {
        EXPECT_EQ(exported, "<00#060235#0620##>\r\n");
        EXPECT_EQ(imported, "<00#060235#0620##>\r\n");
      }
    }
  }
}

TEST(TranslateKey, SingleLengthKekOnlyWithOpt6c) {
  Settings s = with_usages("P", "P");
  s.opt6c = 1;
  EXPECT_EQ(run(s, export_request(s, kKek8, "1PUEE000", kKey8)),
            reply_of({"21", block_under_kek(kKek8, "1PUDE000", kKey8), "D5D4"}));
  EXPECT_EQ(run(s, import_request(s, kKek8, "1PUDE000", kKey8)),
            reply_of({"23", block_under_mfk(s, "1PUEE000", kKey8), "D5D4"}));
  EXPECT_EQ(run(s, export_request(s, kKek8, "1PUEE000", kKey16)), "<00#070235#0003##>\r\n");
}

TEST(TranslateKey, EchoFieldFollowsSuccessOnly) {
  Settings s = with_usages("P", "P");
  std::string exported = export_request(s, kKek16, "1PUEE000", kKey16);
  exported.insert(exported.size() - 1, "^tag#");
  EXPECT_EQ(run(s, exported),
            reply_of({"21", block_under_kek(kKek16, "1PUDE000", kKey16), "08D7", "^tag"}));
  std::string imported = import_request(s, kKek16, "1PUDE000", kKey16);
  imported.insert(imported.size() - 1, "surplus#^#");
  EXPECT_EQ(run(s, imported),
            reply_of({"23", block_under_mfk(s, "1PUEE000", kKey16), "08D7", "^"}));
  std::string refused = export_request(s, kKek16, "1PUEN000", kKey16);
  refused.insert(refused.size() - 1, "^tag#");
  EXPECT_EQ(run(s, refused), "<00#060335#0620##>\r\n");
}

}  // namespace
}  // namespace palisim::testing
