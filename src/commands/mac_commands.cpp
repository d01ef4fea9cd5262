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
#include "protocol/key_headers.h"

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
bool read_mac_to_verify(RequestContext& c, int32_t indicator, uint8_t mac[8], size_t& mac_len) {
  std::string_view text = c[8];
  mac_len = 0;
  if (indicator == 0) {
    if (!text.empty()) {
      return refuse_length(c.settings, c.reply, 8, text.size(), "characters",
                           "expected none for MAC output 0");
    }
    return true;
  }
  if (text.size() != 9 && text.size() != 14 && text.size() != 19) {
    return refuse_length(c.settings, c.reply, 8, text.size(), "characters", "expected 9, 14 or 19");
  }
  for (size_t at = 0; at < text.size(); at += kGroupStride) {
    // Converting a non-hex character would yield a byte the host never sent.
    if (!all_hex_digits(text.substr(at, kGroupDigits))) return c.refuse(kBadCharacter, 8);
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
void finish_mac_reply(RequestContext& c, const ReadyKey& key, int32_t algorithm) {
  CheckValueText check_value;
  key.check_value(check_value, c.settings.opt88);
  append_field(c.reply, check_value.data());
  if (algorithm >= kFirstRepeatedAlgorithm) {
    append_decimal(c.reply, algorithm);
    append_separator(c.reply);
  }
  c.finish();
}

}  // namespace

void handle_generate_mac(RequestContext& c) {
  const ReadyKey* key = c.key_field(1, kMacKeyHeaders);
  if (key == nullptr) return;
  int32_t indicator = 0;
  if (!c.not_empty(2)) return;
  if (!c.decimal_value(2, kMaxMacIndicator, indicator)) return;
  int32_t algorithm = kDefaultMacAlgorithm;
  if (!c[3].empty() && !c.decimal_value(3, kMaxMacAlgorithm, algorithm)) return;
  ChainingValue cv;
  if (!read_mac_chaining_value(c, 4, cv)) return;
  DataField data;
  if (!read_data_fields(c, kMacData, data)) return;

  compute_mac(algorithm, *key, cv.bytes.data(), data.bytes, data.len);
  c.begin("A8");
  append_decimal(c.reply, indicator);
  append_separator(c.reply);
  if (indicator == 0) {
    append_chaining_value_block(c, cv);
  } else {
    append_mac_groups(c.reply, cv.bytes.data(), static_cast<size_t>(2 * indicator + 2));
  }
  finish_mac_reply(c, *key, algorithm);
}

void handle_verify_mac(RequestContext& c) {
  const ReadyKey* key = c.key_field(1, kMacKeyHeaders);
  if (key == nullptr) return;
  int32_t algorithm = kDefaultMacAlgorithm;
  if (!c[2].empty() && !c.decimal_value(2, kMaxMacAlgorithm, algorithm)) return;
  ChainingValue cv;
  if (!read_mac_chaining_value(c, 3, cv)) return;
  int32_t indicator = 0;
  if (!c.not_empty(4)) return;
  if (!c.decimal_value(4, kMaxMacIndicator, indicator)) return;
  DataField data;
  if (!read_data_fields(c, kMacData, data)) return;
  uint8_t expected[8];
  size_t expected_len = 0;
  if (!read_mac_to_verify(c, indicator, expected, expected_len)) return;

  compute_mac(algorithm, *key, cv.bytes.data(), data.bytes, data.len);
  c.begin("A8");
  append_decimal(c.reply, indicator);
  append_separator(c.reply);
  if (indicator == 0) {
    append_chaining_value_block(c, cv);
  } else {
    bool match = constant_time_equal(expected, cv.bytes.data(), expected_len);
    append_field(c.reply, match || c.reply.approve ? "Y" : "N");
    append_separator(c.reply);
  }
  finish_mac_reply(c, *key, algorithm);
}

}  // namespace palisim
