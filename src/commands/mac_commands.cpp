// Commands 98 (generate) and 99 (verify) a MAC over host data.
#include <string_view>

#include "commands/data_fields.h"
#include "commands/field_checks.h"
#include "commands/handlers.h"
#include "commands/key_block_field.h"
#include "crypto/check_value.h"
#include "crypto/constant_time.h"
#include "crypto/hex.h"
#include "payments/mac.h"

namespace palisim {

namespace {

// 0 returns the chaining value; 1, 2 and 3 give 4, 6 or 8 bytes of MAC.
constexpr int32_t kMaxMacIndicator = 3;
// A MAC is written and read as groups of 4 hex digits, 2 bytes each, with one
// character between groups.
constexpr size_t kGroupDigits = 4;
constexpr size_t kGroupStride = kGroupDigits + 1;

// Algorithms from this one up are repeated in the reply.
constexpr int32_t kFirstRepeatedAlgorithm = 6;

constexpr DataRules kMacData{1, false};

// The MAC to verify in field 8: empty for indicator 0; otherwise 2, 3 or 4
// groups (9, 14 or 19 characters). How many bytes are compared follows the
// field's length.
bool read_mac_to_verify(const Settings& s, const Fields& f, ReplyBuffer& r, int32_t indicator,
                        uint8_t mac[8], size_t& mac_len) {
  std::string_view text = f[8];
  mac_len = 0;
  if (indicator == 0) {
    if (!text.empty()) return refuse(s, r, kWrongLength, 8);
    return true;
  }
  if (text.size() != 9 && text.size() != 14 && text.size() != 19) {
    return refuse(s, r, kWrongLength, 8);
  }
  for (size_t at = 0; at < text.size(); at += kGroupStride) {
    // Converting a non-hex character would yield a byte the host never sent.
    if (!all_hex_digits(text.substr(at, kGroupDigits))) return refuse(s, r, kBadCharacter, 8);
    hex_to_binary(mac + mac_len, text.data() + at, kGroupDigits);
    mac_len += 2;
  }
  return true;
}

// The first mac_len bytes of the MAC as groups of 4 hex digits, one space
// between groups, then '#'.
void append_mac_groups(ReplyBuffer& r, const uint8_t* mac, size_t mac_len) {
  char hex[17];
  binary_to_hex(hex, mac, mac_len);
  for (size_t at = 0; at < 2 * mac_len; at += kGroupDigits) {
    if (at > 0) append_text(r, " ");
    append_text(r, {hex + at, kGroupDigits});
  }
  append_separator(r);
}

// Check value, the algorithm number for 6 and 7 only, the echo field, the end.
void finish_mac_reply(const Settings& s, ReplyBuffer& r, const Fields& f, const ReadyKey& key,
                      int32_t algorithm) {
  CheckValueText check_value;
  key.check_value(check_value, s.opt88);
  append_field(r, check_value.data());
  if (algorithm >= kFirstRepeatedAlgorithm) {
    append_decimal(r, algorithm);
    append_separator(r);
  }
  finish_success(s, r, f);
}

}  // namespace

void handle_generate_mac(const Settings& s, KeyCache& keys, const Fields& f, ReplyBuffer& r) {
  const ReadyKey* key = nullptr;
  if (!read_key_block_field(f[1], 1, kMacKeyHeaders, s, keys, r, key, true)) return;
  int32_t indicator = 0;
  if (!check_not_empty(s, f, r, 2)) return;
  if (!read_decimal_at_most(s, f, r, 2, kMaxMacIndicator, indicator)) return;
  int32_t algorithm = kDefaultMacAlgorithm;
  if (!f[3].empty() && !read_decimal_at_most(s, f, r, 3, kMaxMacAlgorithm, algorithm)) return;
  ChainingValue cv;
  if (!read_mac_chaining_value(s, keys, f, r, 4, cv)) return;
  DataField data;
  if (!read_data_fields(s, f, r, kMacData, data)) return;

  compute_mac(algorithm, *key, cv.bytes.data(), data.bytes, data.len);
  begin_success(r, "A8");
  append_decimal(r, indicator);
  append_separator(r);
  if (indicator == 0) {
    append_chaining_value_block(s, keys, r, cv);
  } else {
    append_mac_groups(r, cv.bytes.data(), static_cast<size_t>(2 * indicator + 2));
  }
  finish_mac_reply(s, r, f, *key, algorithm);
}

void handle_verify_mac(const Settings& s, KeyCache& keys, const Fields& f, ReplyBuffer& r) {
  const ReadyKey* key = nullptr;
  if (!read_key_block_field(f[1], 1, kMacKeyHeaders, s, keys, r, key, true)) return;
  int32_t algorithm = kDefaultMacAlgorithm;
  if (!f[2].empty() && !read_decimal_at_most(s, f, r, 2, kMaxMacAlgorithm, algorithm)) return;
  ChainingValue cv;
  if (!read_mac_chaining_value(s, keys, f, r, 3, cv)) return;
  int32_t indicator = 0;
  if (!check_not_empty(s, f, r, 4)) return;
  if (!read_decimal_at_most(s, f, r, 4, kMaxMacIndicator, indicator)) return;
  DataField data;
  if (!read_data_fields(s, f, r, kMacData, data)) return;
  uint8_t expected[8];
  size_t expected_len = 0;
  if (!read_mac_to_verify(s, f, r, indicator, expected, expected_len)) return;

  compute_mac(algorithm, *key, cv.bytes.data(), data.bytes, data.len);
  begin_success(r, "A8");
  append_decimal(r, indicator);
  append_separator(r);
  if (indicator == 0) {
    append_chaining_value_block(s, keys, r, cv);
  } else {
    bool match = constant_time_equal(expected, cv.bytes.data(), expected_len);
    append_field(r, match || r.approve ? "Y" : "N");
    append_separator(r);
  }
  finish_mac_reply(s, r, f, *key, algorithm);
}

}  // namespace palisim
