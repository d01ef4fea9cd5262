// Requests for the card, data and MAC command tests, and the independent DES's
// CBC-MAC for their MAC results.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>

#include "command_test_util.h"
#include "crypto/key.h"
#include "crypto/key_block.h"
#include "crypto/wrapping_key.h"
#include "des_oracle.h"

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
  return to_hex(key.bytes.data(), 8);
}

// Field i of a reply "<a#b#...#>\r\n".
inline std::string reply_field(const std::string& reply, int i) {
  size_t at = 1;
  for (int k = 0; k < i; ++k)
    at = reply.find('#', at) + 1;
  return reply.substr(at, reply.find('#', at) - at);
}

}  // namespace palisim::testing
