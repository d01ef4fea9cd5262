// Running requests through dispatch and making key blocks for the command tests.
#pragma once

#include <string>

#include "crypto/hex.h"
#include "crypto/key_block.h"
#include "crypto/key_cache.h"
#include "dispatch/command_table.h"
#include "hex_text.h"
#include "protocol/settings.h"

namespace palisim::testing {

// The MFK of the shipped example configuration.
inline constexpr char kTestMfkHex[] = "0123456789ABCDEFFEDCBA987654321089ABCDEF01234567";

// Settings with the test MFK loaded, and opt21 on so errors carry details.
inline Settings settings_with_mfk(const char* mfk_hex = kTestMfkHex) {
  Settings s;
  std::string hex(mfk_hex);
  hex_to_binary(s.mfk.data(), hex.data(), hex.size());
  s.mfk_len = static_cast<int32_t>(hex.size() / 2);
  s.mfk_present = 1;
  s.opt21 = 1;
  return s;
}

// The reply that dispatch writes for the request.
inline std::string run(const Settings& s, std::string request) {
  char reply[6144];
  ReplyBuffer r{reply, 0};
  KeyCache keys;
  dispatch_request(s, keys, request.data(), static_cast<int32_t>(request.size()), r);
  return std::string(r.view());
}

// A key block of the key (hex) under the settings' MFK, as the device would build it.
inline std::string block_under_mfk(const Settings& s, const std::string& header,
                                   const std::string& key_hex) {
  std::string key = bytes_from_hex(key_hex);
  KeyBlockText out;
  build_key_block(s.mfk.data(), 24, header, reinterpret_cast<const uint8_t*>(key.data()),
                  static_cast<int32_t>(key.size()), out);
  return std::string(out.data());
}

// A key block of the key (hex) under a KEK given in hex at its own length.
inline std::string block_under_kek(const std::string& kek_hex, const std::string& header,
                                   const std::string& key_hex) {
  std::string kek = bytes_from_hex(kek_hex);
  std::string key = bytes_from_hex(key_hex);
  KeyBlockText out;
  build_key_block(reinterpret_cast<const uint8_t*>(kek.data()), static_cast<int32_t>(kek.size()),
                  header, reinterpret_cast<const uint8_t*>(key.data()),
                  static_cast<int32_t>(key.size()), out);
  return std::string(out.data());
}

}  // namespace palisim::testing
