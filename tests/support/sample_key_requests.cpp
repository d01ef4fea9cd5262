// Key generation, translation and variant exchange: commands 10, 11, 13, 1A, 11B.
#include "sample_builders.h"

namespace palisim::testing::samples {

namespace {

// A KEK and working keys whose parts differ, so K1 K2 K1 forms would show.
const std::string kKek8 = "3B3898371520F75E";
const std::string kKek16 = "1F2E3D4C5B6A79880817263544536271";
const std::string kKey8 = "0123456789ABCDEF";
const std::string kKey16 = "0123456789ABCDEFFEDCBA9876543210";
const std::string kKey24 = kKey16 + "89ABCDEF01234567";

void add_generate(std::vector<SampleRequest>& out, const std::string& kek) {
  add_valid(out, "10_double", {"10", "1KDNE000"}, "20");
  add_valid(out, "10_triple", {"10", "1KDNE000", "", "T"}, "20");
  const FieldList g = {"10", "1KDEE000", kek, "S"};
  add_valid(out, "10_single_with_kek", g, "20");

  add_error(out, "10_no_fields", {"10"}, 4, 2, 300);
  add_error(out, "10_header_of_7", with(g, 1, "1KDNE00"), 1, 1, 3);
  add_error(out, "10_kek_of_73", with(g, 2, kek.substr(0, 73)), 1, 2, 3);
  add_error(out, "10_kek_bad_form", with(g, 2, bad_form(kek)), 2, 2, 102);
  add_error(out, "10_kek_header_not_listed", with(g, 2, block("1KDEN000", kKek16)), 6, 2, 620);
  add_error(out, "10_kek_forged_mac", with(g, 2, forged(kek)), 6, 2, 622);
  add_error(out, "10_kek_single_length", with(g, 2, block("1KDEE000", kKek8)), 6, 2, 209);
  add_error(out, "10_two_length_letters", with(g, 3, "DD"), 1, 3, 3);
  add_error(out, "10_lower_case_letter", with(g, 3, "d"), 3, 3, 200);
}

void add_translate(std::vector<SampleRequest>& out, const std::string& kek) {
  const FieldList x = {"11", "x", kek, block("1PUEE000", kKey16)};
  add_valid(out, "11_double", x, "21");
  add_valid(out, "11_single", with(x, 3, block("1VVGE000", kKey8)), "21");

  add_error(out, "11_three_fields", cut(x, 3), 4, 4, 300);
  add_error(out, "11_kek_of_73", with(x, 2, kek.substr(1)), 1, 2, 3);
  add_error(out, "11_kek_single_length", with(x, 2, block("1KDEE000", kKek8)), 6, 2, 209);
  add_error(out, "11_key_forged_mac", with(x, 3, forged(x[3])), 6, 3, 622);
  add_error(out, "11_key_not_exportable", with(x, 3, block("1PUEN000", kKey16)), 6, 3, 620);
  add_error(out, "11_usage_not_allowed", with(x, 3, block("1XUEE000", kKey16)), 6, 3, 620);
  add_error(out, "11_key_longer_than_kek", with(x, 3, block("1PUEE000", kKey24)), 7, 2, 3);

  const FieldList m = {"13", "", kek, block_under(kKek16, "1PUDE000", kKey16)};
  add_valid(out, "13_double", m, "23");
  add_valid(out, "13_triple", with(m, 3, block_under(kKek16, "1dDVE000", kKey24)), "23");

  add_error(out, "13_three_fields", cut(m, 3), 4, 4, 300);
  add_error(out, "13_kek_header_not_listed", with(m, 2, block("1KDNN000", kKek16)), 6, 2, 620);
  add_error(out, "13_empty_key", with(m, 3, ""), 1, 3, 3);
  add_error(out, "13_key_under_mfk", with(m, 3, block("1PUDE000", kKey16)), 6, 3, 622);
  add_error(out, "13_key_not_importable", with(m, 3, block_under(kKek16, "1PUDN000", kKey16)), 6, 3,
            620);
}

void add_variant_exchange(std::vector<SampleRequest>& out, const std::string& kek) {
  const FieldList e = {"1A", "0", kek, block("1PUEE000", kKey16)};
  add_valid(out, "1A_variant_0", e, "2A");
  add_valid(out, "1a_variant_31_single", {"1a", "31", kek, block("1PUEE000", kKey8)}, "2A");

  add_error(out, "1A_three_fields", cut(e, 3), 4, 4, 300);
  add_error(out, "1A_minus_sign", with(e, 1, "-1"), 2, 1, 102);
  add_error(out, "1A_variant_32", with(e, 1, "32"), 3, 1, 200);
  add_error(out, "1A_empty_kek", with(e, 2, ""), 1, 2, 3);
  add_error(out, "1A_kek_forged_mac", with(e, 2, forged(kek)), 6, 2, 622);
  add_error(out, "1A_key_not_exportable", with(e, 3, block("1PUEN000", kKey16)), 6, 3, 620);
  add_error(out, "1A_key_longer_than_kek", with(e, 3, block("1PUEE000", kKey24)), 7, 3, 3);

  const std::string import_kek = block("1KDNN0K0", kKek16);
  const FieldList i = {"11B", "0", kKey16, import_kek};
  add_valid(out, "11B_variant_0", i, "21B");
  add_valid(out, "11b_variant_5_single", {"11b", "5", kKey8, import_kek}, "21B");

  add_error(out, "11B_three_fields", cut(i, 3), 4, 4, 300);
  add_error(out, "11B_letter_variant", with(i, 1, "x"), 2, 1, 102);
  add_error(out, "11B_variant_32", with(i, 1, "32"), 3, 1, 200);
  add_error(out, "11B_text_of_33", with(i, 2, kKey16 + "0"), 1, 2, 3);
  add_error(out, "11B_text_not_hex", with(i, 2, "G" + kKey16.substr(1)), 2, 2, 102);
  add_error(out, "11B_kek_of_73", with(i, 3, import_kek.substr(0, 73)), 1, 3, 3);
  add_error(out, "11B_kek_bad_form", with(i, 3, bad_form(import_kek)), 2, 3, 102);
  add_error(out, "11B_kek_exportable", with(i, 3, block("1KDNE0K0", kKek16)), 6, 3, 620);
  add_error(out, "11B_kek_forged_mac", with(i, 3, forged(import_kek)), 6, 3, 622);
  add_error(out, "11B_kek_single_length", with(i, 3, block("1KDNN0K0", kKek8)), 6, 3, 209);
}

}  // namespace

void add_key_secrets(SampleSecrets& out) {
  // The KEK also as varied by variants 5 and 31 (0x28 and 0xF8 into the
  // first byte of each part).
  out.key_hex.insert(out.key_hex.end(),
                     {kKek8, kKek16, kKey8, kKey16, kKey24, "372E3D4C5B6A79882017263544536271",
                      "E72E3D4C5B6A7988F017263544536271"});
}

void add_key_requests(std::vector<SampleRequest>& out) {
  const std::string kek = block("1KDEE000", kKek16);
  add_generate(out, kek);
  add_translate(out, kek);
  add_variant_exchange(out, kek);
}

}  // namespace palisim::testing::samples
