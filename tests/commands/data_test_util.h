// Requests for the card, data and MAC command tests, and OpenSSL's DES as an
// independent reference for their CBC and MAC results.
#pragma once

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/des.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "command_test_util.h"
#include "crypto/key.h"
#include "crypto/key_block.h"
#include "crypto/wrapping_key.h"

namespace palisim::testing {

// "<" + fields each followed by "#" + ">".
inline std::string request(std::initializer_list<std::string> fields) {
  std::string text = "<";
  for (const std::string& field : fields)
    text += field + "#";
  return text + ">";
}

// "<" + fields each followed by "#" + ">" + CR LF: a success reply.
inline std::string reply(std::initializer_list<std::string> fields) {
  return request(fields) + "\r\n";
}

// An error reply with opt21 on, e.g. error(3, 6, 200) is <00#030635#0200##>.
inline std::string error(int type, int field, int detail) {
  char text[32];
  std::snprintf(text, sizeof text, "<00#%02d%02d35#%04d##>\r\n", type, field, detail);
  return text;
}

inline std::string hex_of(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 0x0F];
  }
  return hex;
}

// OpenSSL's CBC over data (hex, whole blocks) under a key of 8, 16 or 24 bytes
// (hex), from iv (hex); the result in hex.
inline std::string oracle_cbc(const std::string& key_hex, const std::string& iv_hex,
                              const std::string& data_hex, bool encipher) {
  std::string key = bytes_from_hex(key_hex);
  std::string data = bytes_from_hex(data_hex);
  DES_key_schedule ks[3];
  for (size_t i = 0; i < 3; ++i) {
    size_t at = key.size() == 8 || (key.size() == 16 && i == 2) ? 0 : 8 * i;
    DES_cblock part;
    std::memcpy(part, key.data() + at, 8);
    DES_set_key_unchecked(&part, &ks[i]);
  }
  DES_cblock cv;
  std::memcpy(cv, bytes_from_hex(iv_hex).data(), 8);
  std::string out(data.size(), '\0');
  auto* in = reinterpret_cast<const unsigned char*>(data.data());
  auto* o = reinterpret_cast<unsigned char*>(out.data());
  int enc = encipher ? DES_ENCRYPT : DES_DECRYPT;
  if (key.size() == 8) {
    DES_ncbc_encrypt(in, o, static_cast<long>(data.size()), &ks[0], &cv, enc);
  } else {
    DES_ede3_cbc_encrypt(in, o, static_cast<long>(data.size()), &ks[0], &ks[1], &ks[2], &cv, enc);
  }
  return hex_of(out);
}

// The last block of OpenSSL's CBC encipherment: the CBC-MAC.
inline std::string oracle_cbc_mac(const std::string& key_hex, const std::string& iv_hex,
                                  const std::string& data_hex) {
  std::string out = oracle_cbc(key_hex, iv_hex, data_hex, true);
  return out.substr(out.size() - 16);
}

inline constexpr char kZeroIv[] = "0000000000000000";

// The chaining value carried in a block of a reply, opened under the MFK.
inline std::string chaining_value_of(const Settings& s, const std::string& block) {
  Key key;
  if (!open_key_block(s.mfk.data(), kMfkWrappingLen, block, key) || key.len != 8) return "";
  return hex_of(std::string(reinterpret_cast<const char*>(key.bytes.data()), 8));
}

// Field i of a reply "<a#b#...#>\r\n".
inline std::string reply_field(const std::string& reply, int i) {
  size_t at = 1;
  for (int k = 0; k < i; ++k)
    at = reply.find('#', at) + 1;
  return reply.substr(at, reply.find('#', at) - at);
}

}  // namespace palisim::testing
