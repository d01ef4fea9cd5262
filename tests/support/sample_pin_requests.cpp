// PIN commands 30, 31, 32, 37 and 90, on the published ANSI X9.24 DUKPT
// example (PIN 1234, account 4012345678909) and a Visa PVV example.
#include "sample_builders.h"

namespace palisim::testing::samples {

namespace {

const std::string kBdk = "0123456789ABCDEFFEDCBA9876543210";
const std::string kAccount = "401234567890";
const std::string kKsn1 = "FFFF9876543210E00001";
const std::string kPinKey1 = "042666B49184CF5C68DE9628D0397B36";
const std::string kBlock1 = "1B9C1845EB993A7A";
const std::string kKsn2 = "FFFF9876543210E00002";
const std::string kPinKey2 = "C46551CEF9FD244FAA9AD834130D3B38";
const std::string kBlock2 = "10A01C8D02C69107";
// PVK and account digits under which PIN 2205 has PVV 3856 and PIN 0654 PVV
// 0885 (key index 1); PIN 1234 has PVV 3003.
const std::string kPvk = "5CA64B3C22BEC347CA7E6609904BAAED";
const std::string kPvvAccount = "32000098036";
const std::string kPvvPinAccount = "432000098036";
// The initial PIN encryption key of the DUKPT example's BDK and KSN.
const std::string kIpek = "6AC292FAA1315B4D858AB3A3D7D5933A";
// PIN fields of the PINs the samples carry.
const std::string kField1234 = "041234FFFFFFFFFF";
const std::string kField2205 = "042205FFFFFFFFFF";
const std::string kField0654 = "040654FFFFFFFFFF";
const std::string kFieldTwelve = "0C975318642086FF";
const std::string kFieldEight = "0886420975FFFFFF";

void add_encipher(std::vector<SampleRequest>& out) {
  const FieldList e = {"30", block("1PUNE000", kPinKey1), "1234", kAccount};
  add_valid(out, "30_published_block", e, "40", "<40#" + kBlock1 + "#>");
  add_valid(out, "30_twelve_digits_echo", {"30", e[1], "975318642086", kAccount, "^e 1"}, "40");

  add_error(out, "30_three_fields", cut(e, 3), 4, 4, 300);
  add_error(out, "30_key_deciphering_only", with(e, 1, block("1PUDE000", kPinKey1)), 6, 1, 620);
  add_error(out, "30_key_forged_mac", with(e, 1, forged(e[1])), 6, 1, 622);
  add_error(out, "30_pin_of_3", with(e, 2, "123"), 1, 2, 3);
  add_error(out, "30_pin_of_13", with(e, 2, "1234567890123"), 1, 2, 3);
  add_error(out, "30_pin_not_digits", with(e, 2, "12a4"), 2, 2, 102);
  add_error(out, "30_account_of_11", with(e, 3, "40123456789"), 1, 3, 3);
  add_error(out, "30_account_not_digits", with(e, 3, "40123456789X"), 2, 3, 102);
}

void add_translate(std::vector<SampleRequest>& out) {
  const std::string out_key = block("1PUEE000", kPinKey1);
  const std::string known = "<41#" + kBlock1 + "#Y#>";
  const FieldList t1 = {"31", "1", block("1PUDE000", kPinKey2), out_key, kBlock2, kAccount};
  const FieldList t7 = {"31", "7", block("1dDNE000", kBdk), out_key, kBlock2, kAccount, kKsn2, "D"};
  add_valid(out, "31_type_1", t1, "41", known);
  add_valid(out, "31_type_7", t7, "41", known);

  add_error(out, "31_five_fields", cut(t1, 5), 4, 6, 300);
  add_error(out, "31_type_2", with(t1, 1, "2"), 3, 1, 200);
  add_error(out, "31_type_17", with(t1, 1, "17"), 1, 1, 3);
  add_error(out, "31_type_7_seven_fields", cut(t7, 7), 4, 8, 300);
  add_error(out, "31_in_key_enciphering", with(t1, 2, block("1PUEE000", kPinKey2)), 6, 2, 620);
  add_error(out, "31_out_key_deciphering", with(t1, 3, block("1PUDE000", kPinKey1)), 6, 3, 620);
  add_error(out, "31_block_of_15", with(t1, 4, kBlock2.substr(0, 15)), 1, 4, 3);
  add_error(out, "31_block_not_hex", with(t1, 4, "10A01C8D02C6910G"), 2, 4, 102);
  add_error(out, "31_account_not_digits", with(t1, 5, "40123456789X"), 2, 5, 102);
  add_error(out, "31_ksn_of_9", with(t7, 6, "FFFF98765"), 1, 6, 3);
  add_error(out, "31_ksn_counter_0", with(t7, 6, "FFFF9876543210E00000"), 3, 6, 200);
  add_error(out, "31_mode_X", with(t7, 7, "X"), 3, 7, 200);
  add_error(out, "31_mode_SD", with(t7, 7, "SD"), 1, 7, 3);
}

void add_verify(std::vector<SampleRequest>& out) {
  const std::string pvk = block("1VVNE000", kPvk);
  const FieldList t1 = {"32",
                        "3",
                        "1",
                        pin_block(kPinKey1, kField2205, kPvvPinAccount),
                        block("1PUDE000", kPinKey1),
                        pvk,
                        "",
                        "3856",
                        "1",
                        kPvvAccount,
                        kPvvPinAccount};
  const FieldList t7 = {"32",     "3",   "7",    kBlock1, block("1dDNN000", kBdk),
                        pvk,      "",    "3003", "1",     kPvvAccount,
                        kAccount, kKsn1, "D"};
  add_valid(out, "32_type_1", t1, "42", "<42#Y#>");
  add_valid(out, "32_type_1_other_pvv", with(t1, 7, "3857"), "42", "<42#N#>");
  add_valid(out, "32_type_7", t7, "42", "<42#Y#>");

  add_error(out, "32_ten_fields", cut(t1, 10), 4, 11, 300);
  add_error(out, "32_field_1_is_4", with(t1, 1, "4"), 3, 1, 203);
  add_error(out, "32_field_1_is_33", with(t1, 1, "33"), 1, 1, 3);
  add_error(out, "32_type_2", with(t1, 2, "2"), 3, 2, 203);
  add_error(out, "32_block_of_15", with(t1, 3, t1[3].substr(0, 15)), 1, 3, 3);
  add_error(out, "32_type_7_eleven_fields", cut(t7, 11), 4, 13, 300);
  add_error(out, "32_pin_key_enciphering", with(t1, 4, block("1PUEE000", kPinKey1)), 6, 4, 620);
  add_error(out, "32_pvk_generation_key", with(t1, 5, block("1VVGE000", kPvk)), 6, 5, 620);
  add_error(out, "32_pvv_of_3", with(t1, 7, "385"), 1, 7, 3);
  add_error(out, "32_pvv_not_digits", with(t1, 7, "38a6"), 2, 7, 102);
  add_error(out, "32_index_7", with(t1, 8, "7"), 3, 8, 200);
  add_error(out, "32_index_letter", with(t1, 8, "x"), 2, 8, 102);
  add_error(out, "32_pvv_account_of_10", with(t1, 9, "3200009803"), 1, 9, 3);
  add_error(out, "32_pin_account_not_digits", with(t1, 10, "43200009803X"), 2, 10, 102);
  add_error(out, "32_ksn_of_6", with(t7, 11, "E00001"), 1, 11, 3);
  add_error(out, "32_mode_X", with(t7, 12, "X"), 3, 12, 200);
}

void add_change(std::vector<SampleRequest>& out) {
  const std::string old_block = pin_block(kPinKey1, kField2205, kPvvPinAccount);
  const std::string new_block = pin_block(kPinKey1, kField0654, kPvvPinAccount);
  const FieldList c = {"37",
                       "3",
                       "1",
                       old_block,
                       block("1PUNN000", kPinKey1),
                       block("1VVVE000", kPvk),
                       "",
                       "3856",
                       "1",
                       kPvvAccount,
                       new_block,
                       kPvvPinAccount};
  add_valid(out, "37_change", c, "47", "<47#Y#0885#>");
  add_valid(out, "37_wrong_old_pvv", with(c, 7, "3857"), "47", "<47#N##>");

  add_error(out, "37_eleven_fields", cut(c, 11), 4, 12, 300);
  add_error(out, "37_field_1_is_4", with(c, 1, "4"), 3, 1, 203);
  add_error(out, "37_type_7", with(c, 2, "7"), 3, 2, 203);
  add_error(out, "37_no_old_block", with(c, 3, ""), 1, 3, 3);
  add_error(out, "37_old_block_not_hex", with(c, 3, "G" + old_block.substr(1)), 2, 3, 102);
  add_error(out, "37_pvk_generation_key", with(c, 5, block("1VVGE000", kPvk)), 6, 5, 620);
  add_error(out, "37_old_pvv_of_2", with(c, 7, "12"), 1, 7, 3);
  add_error(out, "37_index_9", with(c, 8, "9"), 3, 8, 200);
  add_error(out, "37_new_block_of_15", with(c, 10, new_block.substr(0, 15)), 1, 10, 3);
  add_error(out, "37_account_of_11", with(c, 11, "43200009803"), 1, 11, 3);
}

void add_decipher(std::vector<SampleRequest>& out) {
  const FieldList d = {"90", "1", kBlock1, block("1PUNE000", kPinKey1), kAccount};
  add_valid(out, "90_published_block", d, "A0", "<A0#1234#>");
  add_valid(out, "90_echo_field", with(d, 5, "^^"), "A0", "<A0#1234#^^#>");
  add_valid(out, "90_eight_digits", with(d, 2, pin_block(kPinKey1, kFieldEight, kAccount)), "A0",
            "<A0#86420975#>");

  add_error(out, "90_four_fields", cut(d, 4), 4, 5, 300);
  add_error(out, "90_type_2", with(d, 1, "2"), 3, 1, 200);
  add_error(out, "90_type_11", with(d, 1, "11"), 1, 1, 3);
  add_error(out, "90_block_of_15", with(d, 2, kBlock1.substr(0, 15)), 1, 2, 3);
  add_error(out, "90_block_not_hex", with(d, 2, "1B9C1845EB993A7X"), 2, 2, 102);
  add_error(out, "90_key_enciphering", with(d, 3, block("1PUEE000", kPinKey1)), 6, 3, 620);
  add_error(out, "90_account_of_11", with(d, 4, "40123456789"), 1, 4, 3);
}

}  // namespace

void add_pin_secrets(SampleSecrets& out) {
  out.key_hex.insert(
      out.key_hex.end(),
      {kBdk, kIpek, kPinKey1, kPinKey2, kPvk, clear_pin_block(kField1234, kAccount),
       clear_pin_block(kField2205, kPvvPinAccount), clear_pin_block(kField0654, kPvvPinAccount),
       clear_pin_block(kFieldTwelve, kAccount), clear_pin_block(kFieldEight, kAccount)});
  out.pins.insert(out.pins.end(), {"975318642086", "86420975"});
  out.verification_values.insert(out.verification_values.end(), {"3856", "3857", "3003", "0885"});
}

void add_pin_requests(std::vector<SampleRequest>& out) {
  add_encipher(out);
  add_translate(out);
  add_verify(out);
  add_change(out);
  add_decipher(out);
}

}  // namespace palisim::testing::samples
