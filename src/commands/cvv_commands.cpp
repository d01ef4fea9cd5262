// Commands 5D (generate) and 5E (verify) a card verification value.
#include <string_view>

#include "commands/field_checks.h"
#include "commands/handlers.h"
#include "commands/key_block_field.h"
#include "crypto/check_value.h"
#include "crypto/constant_time.h"
#include "payments/cvv.h"

namespace palisim {

namespace {

constexpr size_t kMaxValueLen = 8;
constexpr size_t kGeneratedDigits = 8;

// Field 1 passes as any single character or as text beginning with "3". A
// refusal is reported against field 2 with detail 203, as the device does.
// An empty field 1 before an empty field 2 is left to the key block check.
bool check_algorithm_indicator(const Settings& s, const Fields& f, ReplyBuffer& r) {
  std::string_view indicator = f[1];
  if (indicator.size() == 1 || indicator.starts_with('3')) return true;
  if (indicator.empty() && f[2].empty()) return true;
  return refuse(s, r, kValueRefused, 2);
}

// Check value, an empty closing field, the echo field and the end.
void finish_card_reply(const Settings& s, ReplyBuffer& r, const Fields& f, const ReadyKey& key) {
  CheckValueText check_value;
  key.check_value(check_value, s.opt88);
  append_field(r, check_value.data());
  append_separator(r);
  finish_success(s, r, f);
}

}  // namespace

void handle_generate_cvv(const Settings& s, KeyCache& keys, const Fields& f, ReplyBuffer& r) {
  if (!check_algorithm_indicator(s, f, r)) return;
  const ReadyKey* key = nullptr;
  if (!read_key_block_field(f[2], 2, kCardKeyHeaders, s, keys, r, key, true)) return;
  if (!check_decimal_field(s, f, r, 4, 1, kMaxCardDataLen)) return;
  CardVerificationDigits digits;
  card_verification_digits(f[4], key->key, digits);
  begin_success(r, "6D");
  append_field(r, {digits.data(), kGeneratedDigits});
  finish_card_reply(s, r, f, *key);
}

void handle_verify_cvv(const Settings& s, KeyCache& keys, const Fields& f, ReplyBuffer& r) {
  if (!check_algorithm_indicator(s, f, r)) return;
  const ReadyKey* key = nullptr;
  if (!read_key_block_field(f[2], 2, kCardKeyHeaders, s, keys, r, key, true)) return;
  if (!check_decimal_field(s, f, r, 4, 1, kMaxCardDataLen)) return;
  if (!check_decimal_field(s, f, r, 5, 1, kMaxValueLen)) return;
  CardVerificationDigits digits;
  card_verification_digits(f[4], key->key, digits);
  std::string_view value = f[5];
  bool match = constant_time_equal(reinterpret_cast<const uint8_t*>(value.data()),
                                   reinterpret_cast<const uint8_t*>(digits.data()), value.size());
  begin_success(r, "6D");
  append_field(r, match || r.approve ? "Y" : "N");
  finish_card_reply(s, r, f, *key);
}

}  // namespace palisim
