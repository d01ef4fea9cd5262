// Helpers for the key management command tests: check values from the
// independent DES, opening returned key blocks, and taking replies apart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "command_test_util.h"
#include "crypto/key.h"
#include "crypto/key_block.h"
#include "des_oracle.h"

namespace palisim::testing {

// Test keys, hex. Parts differ so that K1 K2 K1 and K1 K1 K1 forms would show.
inline const std::string kKek8 = "3B3898371520F75E";
inline const std::string kKek16 = "1F2E3D4C5B6A79880817263544536271";
inline const std::string kKek24 = kKek16 + "A1B2C3D4E5F60718";
inline const std::string kKey8 = "0123456789ABCDEF";
inline const std::string kKey16 = "0123456789ABCDEFFEDCBA9876543210";
inline const std::string kKey24 = kKey16 + "89ABCDEF01234567";

// The check value as OpenSSL computes it: zeros enciphered, first 4 or 6 digits.
inline std::string oracle_check_value(const std::string& key_hex, size_t digits = 4) {
  return oracle_ecb(key_hex, "0000000000000000", true).substr(0, digits);
}

// The key with mask XORed into the first byte of each 8-byte part.
inline std::string with_variant_mask(const std::string& key_hex, uint8_t mask) {
  std::string key = bytes_from_hex(key_hex);
  for (size_t at = 0; at < key.size(); at += 8)
    key[at] = static_cast<char>(static_cast<uint8_t>(key[at]) ^ mask);
  return to_hex(key);
}

// The key (hex) inside a block under a wrapping key (hex); "" when the block
// does not verify.
inline std::string opened_key(const std::string& wrapping_hex, const std::string& block) {
  std::string w = bytes_from_hex(wrapping_hex);
  Key key;
  if (!check_key_block_form(block)) return "";
  if (!open_key_block(reinterpret_cast<const uint8_t*>(w.data()), static_cast<int32_t>(w.size()),
                      block, key)) {
    return "";
  }
  return to_hex(key.bytes.data(), static_cast<size_t>(key.len));
}

// The same under the whole 24-byte MFK of the settings.
inline std::string opened_key_under_mfk(const Settings& s, const std::string& block) {
  return opened_key(to_hex(s.mfk.data(), s.mfk.size()), block);
}

// The fields of a reply "<f0#f1#...#>\r\n", without '<' and the ending.
inline std::vector<std::string> reply_fields(const std::string& reply) {
  std::vector<std::string> out;
  size_t start = 1;
  for (size_t at = 1; at < reply.size() && reply[at] != '>'; ++at) {
    if (reply[at] == '#') {
      out.push_back(reply.substr(start, at - start));
      start = at + 1;
    }
  }
  return out;
}

// A success reply from its fields, each followed by '#', then ">\r\n".
inline std::string reply_of(const std::vector<std::string>& fields) {
  std::string out = "<";
  for (const std::string& field : fields)
    out += field + "#";
  return out + ">\r\n";
}

// The block with its last MAC digit changed, so that it no longer verifies.
inline std::string with_bad_mac(std::string block) {
  block.back() = block.back() == '0' ? '1' : '0';
  return block;
}

// The block with a character that is not a comma where the first comma goes.
inline std::string with_bad_form(std::string block) {
  block[8] = '.';
  return block;
}

}  // namespace palisim::testing
