// Helpers for the PIN command tests: requests and replies as text, single
// blocks from the independent DES, clear PIN blocks written out by hand, and a
// driver for tables of error rows.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "command_test_util.h"
#include "des_oracle.h"

namespace palisim::testing::pin {

// Published values that the tests share. The X9.24-1 Annex A data: BDK, the
// clear PIN block of PIN 1234 and account 4012345678909, and the PIN keys and
// enciphered blocks of the first two transactions.
inline const std::string kBdk = "0123456789ABCDEFFEDCBA9876543210";
inline const std::string kAccount = "401234567890";
inline const std::string kClearBlock = "041274EDCBA9876F";
inline const std::string kKsn1 = "FFFF9876543210E00001";
inline const std::string kPinKey1 = "042666B49184CF5C68DE9628D0397B36";
inline const std::string kBlock1 = "1B9C1845EB993A7A";
inline const std::string kKsn2 = "FFFF9876543210E00002";
inline const std::string kPinKey2 = "C46551CEF9FD244FAA9AD834130D3B38";
inline const std::string kBlock2 = "10A01C8D02C69107";
// The single-length PIN key of the first transaction, and the published
// block of the same PIN under it (XOR-DES-XOR).
inline const std::string kSinglePinKey1 = "35FDB4BBAEE6A293";
inline const std::string kSingleBlock1 = "6B1431D0D9B23093";

// A Visa PVV example: PVK, 11 account digits, key index 1; PIN 2205 has PVV
// 3856, PIN 0654 has PVV 0885 (its second digit pass needed).
inline const std::string kPvk = "5CA64B3C22BEC347CA7E6609904BAAED";
inline const std::string kPvvAccount = "32000098036";
inline const std::string kPvvPinAccount = "432000098036";

inline std::string request(const std::vector<std::string>& fields) {
  std::string out = "<";
  for (const std::string& field : fields)
    out += field + "#";
  return out + ">";
}

// A success reply with CR LF.
inline std::string reply(const std::vector<std::string>& fields) {
  return request(fields) + "\r\n";
}

// An error reply as written with opt21 on, CR LF included.
inline std::string error(int type, int field, int detail) {
  char text[32];
  std::snprintf(text, sizeof text, "<00#%02d%02d35#%04d##>\r\n", type, field, detail);
  return text;
}

// One block enciphered or deciphered by OpenSSL under a key of 8 (DES), 16
// (K1 K2 K1) or 24 bytes.
inline std::string oracle_block(const std::string& key_hex, const std::string& block_hex,
                                bool encipher = true) {
  return oracle_ecb(key_hex, block_hex, encipher);
}

// The XOR of two hex texts of equal length.
inline std::string xor_hex(const std::string& a, const std::string& b) {
  std::string x = bytes_from_hex(a), y = bytes_from_hex(b);
  for (size_t i = 0; i < x.size(); ++i)
    x[i] = static_cast<char>(x[i] ^ y[i]);
  return to_hex(x);
}

// A clear PIN block from a PIN field written out nibble by nibble (format,
// length, digits, padding) and 12 account digits.
inline std::string clear_block(const std::string& pin_field, const std::string& account) {
  return xor_hex(pin_field, "0000" + account);
}

// One row of an error table: a change to a good request and the error reply
// it must get. A row either sets one field or cuts the request to `keep` fields.
struct ErrorRow {
  std::string name;
  int field = 0;
  std::string value;
  int keep = -1;
  std::string expected;
};

inline ErrorRow set_field(std::string name, int field, std::string value, std::string expected) {
  return {std::move(name), field, std::move(value), -1, std::move(expected)};
}

inline ErrorRow cut_to(std::string name, int keep, std::string expected) {
  return {std::move(name), 0, "", keep, std::move(expected)};
}

inline void apply(const ErrorRow& row, std::vector<std::string>& fields) {
  if (row.keep >= 0) {
    fields.resize(static_cast<size_t>(row.keep));
    return;
  }
  if (fields.size() <= static_cast<size_t>(row.field)) fields.resize(row.field + 1);
  fields[row.field] = row.value;
}

// The key-block faults of one key field: length, form, header, MAC and a
// single-length key (refused while opt6c is off).
inline std::vector<ErrorRow> key_field_rows(const Settings& s, int field,
                                            const std::string& good_header,
                                            const std::string& foreign_header) {
  std::string good = block_under_mfk(s, good_header, "00112233445566778899AABBCCDDEEFF");
  std::string bad_mac = good;
  bad_mac[73] = bad_mac[73] == '0' ? '1' : '0';
  std::string bad_form = good;
  bad_form[57] = ';';
  const std::string f = "field " + std::to_string(field) + " ";
  return {
      set_field(f + "key block of 73 characters", field, good.substr(0, 73), error(1, field, 3)),
      set_field(f + "key block with a bad separator", field, bad_form, error(2, field, 102)),
      set_field(f + "key block with a header not in the list", field,
                block_under_mfk(s, foreign_header, "00112233445566778899AABBCCDDEEFF"),
                error(6, field, 620)),
      set_field(f + "key block with a wrong MAC", field, bad_mac, error(6, field, 622)),
      set_field(f + "single-length key", field, block_under_mfk(s, good_header, "0011223344556677"),
                error(6, field, 209)),
  };
}

// Each row alone; with an echo field after it, which an error reply never
// carries; and with the faults of every later row as well, which the earlier
// check must win over.
inline void expect_error_rows(const Settings& s, const std::vector<std::string>& good,
                              const std::vector<ErrorRow>& rows) {
  for (size_t i = 0; i < rows.size(); ++i) {
    std::vector<std::string> alone = good;
    apply(rows[i], alone);
    EXPECT_EQ(run(s, request(alone)), rows[i].expected) << rows[i].name;
    alone.push_back("^echo");
    EXPECT_EQ(run(s, request(alone)), rows[i].expected) << rows[i].name << ", with an echo field";
    std::vector<std::string> all = good;
    for (size_t later = rows.size() - 1; later > i; --later)
      apply(rows[later], all);
    apply(rows[i], all);
    EXPECT_EQ(run(s, request(all)), rows[i].expected) << rows[i].name << ", with later faults";
  }
}

}  // namespace palisim::testing::pin
