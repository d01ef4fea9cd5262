// Card verification (5D, 5E), data encipherment (97) and MACs (98, 99).
#include "sample_builders.h"

namespace palisim::testing::samples {

namespace {

const std::string kKeySingle = "0123456789ABCDEF";
const std::string kKeyDouble = "0123456789ABCDEFFEDCBA9876543210";
// Visa's worked example (PAN 4123456789012345, expiry 8701, service code 101): CVV 561.
const std::string kCardData = "41234567890123458701101";
// "Now is the time for all " in ASCII: three blocks.
const std::string kText = "4E6F77206973207468652074696D6520666F7220616C6C20";
const std::string kIv = "A0B1C2D3E4F50617";

void add_card(std::vector<SampleRequest>& out) {
  const std::string cvk = block("1CDNE000", kKeyDouble);
  const FieldList g = {"5D", "1", cvk, "", kCardData};
  add_valid(out, "5D_visa_example", g, "6D", "<6D#56149820#08D7##>");

  add_error(out, "5D_four_fields", cut(g, 4), 4, 5, 300);
  add_error(out, "5D_indicator_12", with(g, 1, "12"), 3, 2, 203);
  add_error(out, "5D_key_of_73", with(g, 2, cvk.substr(0, 73)), 1, 2, 3);
  add_error(out, "5D_mac_key", with(g, 2, block("1MDNE000", kKeyDouble)), 6, 2, 620);
  add_error(out, "5D_single_length_key", with(g, 2, block("1CDNE000", kKeySingle)), 6, 2, 209);
  add_error(out, "5D_no_card_data", with(g, 4, ""), 1, 4, 3);
  add_error(out, "5D_card_data_of_33", with(g, 4, std::string(33, '4')), 1, 4, 3);
  add_error(out, "5D_card_data_not_digits", with(g, 4, "4123X"), 2, 4, 102);

  const FieldList v = {"5E", "1", cvk, "", kCardData, "561"};
  add_valid(out, "5E_match", v, "6D", "<6D#Y#08D7##>");
  add_valid(out, "5E_mismatch", with(v, 5, "562"), "6D", "<6D#N#08D7##>");

  add_error(out, "5E_five_fields", cut(v, 5), 4, 6, 300);
  add_error(out, "5E_key_forged_mac", with(v, 2, forged(cvk)), 6, 2, 622);
  add_error(out, "5E_no_value", with(v, 5, ""), 1, 5, 3);
  add_error(out, "5E_value_of_9", with(v, 5, "123456789"), 1, 5, 3);
  add_error(out, "5E_value_not_digits", with(v, 5, "56a"), 2, 5, 102);
}

void add_data_cipher(std::vector<SampleRequest>& out) {
  const std::string key = block("1DDNE000", kKeyDouble);
  const std::string iv = block("1IDNE000", kIv);
  const FieldList e = {"97", "E", "1", key, "D", "U", "48", kText};
  add_valid(out, "97_encipher_zero_iv", e, "A7");
  add_valid(out, "97_encipher_fresh_iv", {"97", "E", "6", key, "", "U", "16", kKeySingle}, "A7");
  add_valid(out, "97_decipher_iv_block", {"97", "D", "1", key, iv, "U", "48", kText}, "A7");

  add_error(out, "97_seven_fields", cut(e, 7), 4, 8, 300);
  add_error(out, "97_mode_X", with(e, 1, "X"), 3, 1, 200);
  add_error(out, "97_mode_EE", with(e, 1, "EE"), 1, 1, 3);
  add_error(out, "97_option_2", with(e, 2, "2"), 3, 2, 200);
  add_error(out, "97_single_length_key", with(e, 3, block("1DDNE000", kKeySingle)), 6, 3, 209);
  add_error(out, "97_mac_key", with(e, 3, block("1MDNE000", kKeyDouble)), 6, 3, 620);
  add_error(out, "97_decipher_without_iv", with(with(e, 1, "D"), 4, ""), 3, 4, 200);
  add_error(out, "97_double_length_iv", with(e, 4, block("1IDNE000", kKeyDouble)), 6, 4, 209);
  add_error(out, "97_iv_forged_mac", with(e, 4, forged(iv)), 6, 4, 622);
  add_error(out, "97_format_B", with(e, 5, "B"), 3, 5, 203);
  add_error(out, "97_format_UU", with(e, 5, "UU"), 1, 5, 3);
  add_error(out, "97_format_X", with(e, 5, "X"), 3, 5, 200);
  add_error(out, "97_no_length", with(e, 6, ""), 1, 6, 3);
  add_error(out, "97_length_not_digits", with(e, 6, "4x"), 2, 6, 102);
  add_error(out, "97_length_over_4096_bytes", with(e, 6, "8194"), 3, 6, 200);
  add_error(out, "97_data_shorter_than_length", with(e, 6, "50"), 1, 7, 3);
  add_error(out, "97_decipher_partial_block",
            {"97", "D", "1", key, "D", "U", "24", kIv + "01234567"}, 3, 6, 200);
}

void add_mac(std::vector<SampleRequest>& out) {
  const std::string key = block("1MDNE000", kKeyDouble);
  const std::string zero_iv = block("1IDNE000", "0000000000000000");
  // ISO/IEC 9797-1 Annex B: the retail MAC of "Now is the time for all ".
  const FieldList g = {"98", key, "3", "7", "", "U", "48", kText};
  add_valid(out, "98_retail_mac", g, "A8", "<A8#3#A1C7 2E74 EA3F A9B6#08D7#7#>");
  add_valid(out, "98_chaining_value_out", {"98", key, "0", "1", zero_iv, "U", "48", kText}, "A8");

  add_error(out, "98_seven_fields", cut(g, 7), 4, 8, 300);
  add_error(out, "98_key_of_73", with(g, 1, key.substr(0, 73)), 1, 1, 3);
  add_error(out, "98_card_key", with(g, 1, block("1CDNE000", kKeyDouble)), 6, 1, 620);
  add_error(out, "98_single_length_key", with(g, 1, block("1MDNE000", kKeySingle)), 6, 1, 209);
  add_error(out, "98_no_indicator", with(g, 2, ""), 1, 2, 3);
  add_error(out, "98_indicator_letter", with(g, 2, "A"), 2, 2, 102);
  add_error(out, "98_indicator_4", with(g, 2, "4"), 3, 2, 200);
  add_error(out, "98_algorithm_letter", with(g, 3, "X"), 2, 3, 102);
  add_error(out, "98_algorithm_8", with(g, 3, "8"), 3, 3, 200);
  add_error(out, "98_iv_D", with(g, 4, "D"), 1, 4, 3);
  add_error(out, "98_double_length_iv", with(g, 4, block("1IDNE000", kKeyDouble)), 6, 4, 209);
  add_error(out, "98_data_shorter_than_length", with(g, 7, kText.substr(0, 46)), 1, 7, 3);

  const FieldList v = {"99", key, "7", "", "1", "U", "48", kText, "A1C7 2E74"};
  add_valid(out, "99_match", v, "A8", "<A8#1#Y##08D7#7#>");
  add_valid(out, "99_mismatch", with(v, 8, "A1C7 2E75"), "A8", "<A8#1#N##08D7#7#>");
  add_valid(out, "99_six_bytes", with(with(v, 4, "2"), 8, "A1C7 2E74 EA3F"), "A8",
            "<A8#2#Y##08D7#7#>");

  add_error(out, "99_eight_fields", cut(v, 8), 4, 9, 300);
  add_error(out, "99_algorithm_8", with(v, 2, "8"), 3, 2, 200);
  add_error(out, "99_algorithm_letter", with(v, 2, "x"), 2, 2, 102);
  add_error(out, "99_double_length_iv", with(v, 3, block("1IDNE000", kKeyDouble)), 6, 3, 209);
  add_error(out, "99_no_indicator", with(v, 4, ""), 1, 4, 3);
  add_error(out, "99_indicator_4", with(v, 4, "4"), 3, 4, 200);
  add_error(out, "99_indicator_0_with_mac", with(v, 4, "0"), 1, 8, 3);
  add_error(out, "99_mac_of_8", with(v, 8, "A1C72E74"), 1, 8, 3);
  add_error(out, "99_length_over_4096_bytes", with(v, 6, "9000"), 3, 6, 200);
}

}  // namespace

void add_card_and_data_secrets(SampleSecrets& out) {
  out.key_hex.insert(out.key_hex.end(), {kKeySingle, kKeyDouble});
  out.verification_values.insert(out.verification_values.end(), {"56149820", "561", "562"});
}

void add_card_and_data_requests(std::vector<SampleRequest>& out) {
  add_card(out);
  add_data_cipher(out);
  add_mac(out);
}

}  // namespace palisim::testing::samples
